// The precise mode's guide algorithms and pulses.
#include "core/precise/guidealgo.h"

#include <algorithm>
#include <cmath>

#include "core/guide/relaybox.h"

namespace {

int sign(double v) { return v > 0 ? 1 : v < 0 ? -1 : 0; }

}  // namespace

double HysteresisAlgorithm::result(double distance)
{
    double move = ((1.0 - hysteresis) * distance + hysteresis * lastMove_) * aggressiveness;
    if (std::fabs(distance) < minMove)
        move = 0;
    lastMove_ = move;
    return move;
}

void ResistSwitchAlgorithm::reset()
{
    history_.fill(0);
    side_ = 0;
}

double ResistSwitchAlgorithm::result(double distance)
{
    std::rotate(history_.begin(), history_.begin() + 1, history_.end());
    history_.back() = distance;

    if (std::fabs(distance) < minMove)
        return 0;
    if (fastSwitch && sign(distance) != side_ && std::fabs(distance) > 3 * minMove) {
        // A large excursion the other way: the history is made to show it.
        side_ = 0;
        std::fill(history_.begin(), history_.end() - 3, 0.0);
        std::fill(history_.end() - 3, history_.end(), distance);
    }
    int votes = 0;
    for (double h : history_)
        if (std::fabs(h) > minMove)
            votes += sign(h);
    if (side_ == 0 || side_ == -sign(votes)) {
        if (std::abs(votes) < 3)
            return 0;  // not compelling enough
        double oldest = 0, newest = 0;
        for (int i = 0; i < 3; ++i) {
            oldest += history_[std::size_t(i)];
            newest += history_[std::size_t(kHistory - 1 - i)];
        }
        if (std::fabs(newest) <= std::fabs(oldest))
            return 0;  // not getting worse
        side_ = sign(votes);
    }
    if (side_ != sign(distance))
        return 0;  // an overshoot: left alone
    return distance * aggressiveness;
}

int relayCountForMs(int ms)
{
    return std::clamp(int(std::lround(ms * double(kRelayMaxCount) / 1000.0)), 0, kRelayMaxCount);
}

void PreciseGuider::reset()
{
    raAlgorithm.reset();
    decAlgorithm.reset();
}

GuideStep PreciseGuider::step(PointPx star, PointPx lock)
{
    GuideStep g;
    g.offset = {star.x - lock.x, star.y - lock.y};
    const PointPx m = calibration.toMount(g.offset);
    const auto axis = [](PreciseAxisPulse& a, double distance, double guide, double rate, int maxMs, Direction positive,
                         Direction negative) {
        a.distance = distance;
        a.guide = guide;
        a.direction = guide >= 0 ? positive : negative;
        const double ms = rate > 0 ? std::fabs(guide) / rate * 1000.0 : 0;
        a.limited = ms > maxMs;
        a.ms = int(std::lround(std::min<double>(ms, maxMs)));
        a.relayCount = relayCountForMs(a.ms);
    };
    axis(g.ra, m.x, raAlgorithm.result(m.x), calibration.xRate, maxRaMs, Direction::West, Direction::East);
    axis(g.dec, m.y, decAlgorithm.result(m.y), calibration.yRate, maxDecMs, Direction::South, Direction::North);
    return g;
}

PointPx PreciseGuider::ditherOffset(double ra, double dec, bool raOnly) const
{
    return calibration.toCamera({ra, raOnly ? 0.0 : dec});
}
