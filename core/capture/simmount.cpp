// The simulated mount.
#include "core/capture/simmount.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>
#include <string_view>

#include "core/guide/correction.h"
#include "core/guide/relaybox.h"
#include "core/state.h"

uint64_t mixBits(uint64_t key)
{
    // splitmix64's finaliser.
    key += 0x9e3779b97f4a7c15ull;
    key = (key ^ (key >> 30)) * 0xbf58476d1ce4e5b9ull;
    key = (key ^ (key >> 27)) * 0x94d049bb133111ebull;
    return key ^ (key >> 31);
}

double normalFromBits(uint64_t bits)
{
    // Box-Muller on two 26-bit uniforms; the first never 0.
    const double u1 = (double((bits >> 38) & 0x3ffffff) + 0.5) / double(1 << 26);
    const double u2 = double((bits >> 6) & 0x3ffffff) / double(1 << 26);
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

double SimulatedMount::AxisMotion::at(int64_t timeUs) const
{
    double s = settled;
    if (moving) {
        const int64_t end = std::min(endUs, timeUs);
        if (end > startUs)
            s += velocity * double(end - startUs) * 1e-6;
    }
    return s;
}

void SimulatedMount::AxisMotion::halt(int64_t timeUs)
{
    settled = at(timeUs);
    moving = false;
}

void SimulatedMount::AxisMotion::move(int64_t timeUs, int64_t untilUs, double v)
{
    halt(timeUs);
    moving = true;
    startUs = timeUs;
    endUs = untilUs;
    velocity = v;
}

SimulatedMount::SimulatedMount(SharedState& state, MountChannel& channel) : state_(state), channel_(channel)
{
    observerId_ = channel_.addObserver([this](const MountEvent& e) { observe(e); });
}

SimulatedMount::~SimulatedMount()
{
    channel_.removeObserver(observerId_);
}

void SimulatedMount::start(int64_t nowUs)
{
    running_ = true;
    epochUs_ = nowUs;
    ra_ = {};
    dec_ = {};
}

void SimulatedMount::stop()
{
    running_ = false;
}

FieldOffset SimulatedMount::guided(int64_t timeUs) const
{
    return {ra_.at(timeUs), dec_.at(timeUs)};
}

FieldOffset SimulatedMount::offset(int64_t timeUs, bool withSeeing) const
{
    const double t = double(timeUs - epochUs_) * 1e-6;
    FieldOffset o = guided(timeUs);
    o.x += model.driftX * t / 60.0;
    o.y += model.driftY * t / 60.0;
    if (model.pePeriod > 0)
        o.x += model.peAmplitude * std::sin(2.0 * std::numbers::pi * t / model.pePeriod);
    if (withSeeing && model.seeing > 0) {
        const uint64_t key = mixBits(model.seed * 0x100000001b3ull ^ uint64_t(timeUs - epochUs_));
        o.x += model.seeing * normalFromBits(mixBits(key));
        o.y += model.seeing * normalFromBits(mixBits(key + 1));
    }
    return o;
}

double SimulatedMount::velocity(Direction d) const
{
    const tparam& p = *state_.params;
    const double scale = correction::pixelScaleArcsecPerPixel(p.pixelSize, p.focalLength);
    if (!(p.focalLength > 0) || !std::isfinite(scale) || scale <= 0)
        return 0;
    const bool ra = axisOf(d) == GuideAxis::Ra;
    const double v = (ra ? p.raSpeed : p.decSpeed) * model.rate / scale;
    if (!std::isfinite(v))
        return 0;
    const bool positive = d == Direction::East || d == Direction::North;
    return positive ? v : -v;
}

void SimulatedMount::move(Direction d, int64_t fromUs, int64_t untilUs)
{
    axis(axisOf(d)).move(fromUs, untilUs, velocity(d));
}

void SimulatedMount::halt(GuideAxis a, int64_t timeUs)
{
    axis(a).halt(timeUs);
}

void SimulatedMount::observe(const MountEvent& e)
{
    if (!running_ || !state_.params)
        return;
    const int64_t t = e.timeUs;
    switch (state_.params->interfaceType) {
    case RelayBox:
        if (e.kind == MountEvent::Kind::RelayByte) {
            static constexpr Direction byCode[4] = {Direction::West, Direction::East, Direction::South,
                                                    Direction::North};
            const RelayCommand c = decodeRelayByte(e.byte);
            if (c.count > 0)
                move(byCode[c.code], t, t + int64_t(c.count) * 1000000 / kRelayMaxCount);
        }
        break;
    case Lx200:
    case MeadeEtx:
        if (e.kind == MountEvent::Kind::Text) {
            const std::string_view s = e.text;
            if (s == "#:Mn#") move(Direction::North, t, INT64_MAX);
            else if (s == "#:Ms#") move(Direction::South, t, INT64_MAX);
            else if (s == "#:Me#") move(Direction::East, t, INT64_MAX);
            else if (s == "#:Mw#") move(Direction::West, t, INT64_MAX);
            else if (s == "#:Qn#" || s == "#:Qs#") halt(GuideAxis::Dec, t);
            else if (s == "#:Qe#" || s == "#:Qw#") halt(GuideAxis::Ra, t);
            else if (s == "#:Q#") {
                halt(GuideAxis::Ra, t);
                halt(GuideAxis::Dec, t);
            }
        }
        break;
    case VirtualLeds:
        if (e.kind == MountEvent::Kind::Lamp) {
            if (e.on)
                move(e.direction, t, INT64_MAX);
            else
                halt(e.axis, t);
        }
        break;
    case kTimedMountInterface:
        if (e.kind == MountEvent::Kind::TimedPulse)
            move(e.direction, t, t + int64_t(std::max(e.lengthMs, 0)) * 1000);
        else if (e.kind == MountEvent::Kind::Motion && e.on)
            move(e.direction, t, INT64_MAX);
        else if (e.kind == MountEvent::Kind::Motion)
            halt(e.axis, t);
        break;
    default:
        break;
    }
}
