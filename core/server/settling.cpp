// Settling after a guide or a dither.
#include "core/server/settling.h"

#include <cmath>

namespace {

// Whole seconds elapsed, as PHD2's stopwatches count them.
int64_t wholeSeconds(int64_t fromUs, int64_t toUs) { return (toUs - fromUs) / 1'000'000; }

}  // namespace

void Settler::begin(const SettleParams& params, int64_t nowUs)
{
    params_ = params;
    active_ = true;
    startUs_ = nowUs;
    priorInRange_ = false;
    inRangeSinceUs_ = 0;
    frames_ = 0;
    dropped_ = 0;
}

bool Settler::timedOut(int64_t nowUs) const
{
    return double(wholeSeconds(startUs_, nowUs)) >= std::floor(params_.timeoutSec);
}

std::optional<SettleOutcome> Settler::onFrame(double distance, bool starLocked, int64_t nowUs,
                                              SettleProgress& progress)
{
    progress = {};
    if (!active_)
        return std::nullopt;
    ++frames_;
    if (!starLocked)
        ++dropped_;
    const bool inRange = starLocked && std::isfinite(distance) && distance <= params_.pixels;
    if (frames_ >= params_.frames)
        return finish(true, {});
    int64_t inRangeUs = 0;
    if (inRange) {
        if (!priorInRange_) {
            if (params_.timeSec <= 0)
                return finish(true, {});
            inRangeSinceUs_ = nowUs;
        } else {
            inRangeUs = nowUs - inRangeSinceUs_;
            if (double(wholeSeconds(inRangeSinceUs_, nowUs)) >= std::floor(params_.timeSec))
                return finish(true, {});
        }
    }
    if (timedOut(nowUs))
        return finish(false, kTimedOut);
    priorInRange_ = inRange;
    progress.distance = distance;
    progress.timeInRangeSec = double(inRangeUs / 1000) / 1000.0;
    progress.settleTimeSec = params_.timeSec;
    progress.starLocked = starLocked;
    return std::nullopt;
}

std::optional<SettleOutcome> Settler::onIdle(int64_t nowUs)
{
    if (active_ && timedOut(nowUs))
        return finish(false, kTimedOut);
    return std::nullopt;
}

SettleOutcome Settler::cancel(std::string why)
{
    return finish(false, std::move(why));
}

SettleOutcome Settler::finish(bool settled, std::string error)
{
    active_ = false;
    priorInRange_ = false;
    return {settled, std::move(error), frames_, dropped_};
}
