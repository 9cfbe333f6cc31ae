// Settling after a guide or a dither.
#include "core/server/settling.h"

#include <cmath>

void Settler::begin(const SettleParams& params, int64_t nowUs)
{
    params_ = params;
    active_ = true;
    startUs_ = nowUs;
    inRangeSinceUs_.reset();
    frames_ = 0;
    dropped_ = 0;
}

SettleProgress Settler::onFrame(std::optional<double> distance, int64_t nowUs, std::optional<SettleOutcome>& done)
{
    done.reset();
    SettleProgress p;
    if (!active_)
        return p;
    ++frames_;
    p.timeSec = double(nowUs - startUs_) / 1e6;
    p.starLocked = distance.has_value();
    if (!distance) {
        ++dropped_;
        inRangeSinceUs_.reset();
    } else {
        p.distance = *distance;
        if (std::isfinite(*distance) && *distance < params_.pixels) {
            if (!inRangeSinceUs_)
                inRangeSinceUs_ = nowUs;
            p.settleTimeSec = double(nowUs - *inRangeSinceUs_) / 1e6;
        } else {
            inRangeSinceUs_.reset();
        }
    }
    if (inRangeSinceUs_ && p.settleTimeSec >= params_.timeSec)
        done = finish(true, {});
    else if (p.timeSec >= params_.timeoutSec)
        done = finish(false, kTimedOut);
    return p;
}

std::optional<SettleOutcome> Settler::onIdle(int64_t nowUs)
{
    if (active_ && double(nowUs - startUs_) / 1e6 >= params_.timeoutSec)
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
    inRangeSinceUs_.reset();
    return {settled, std::move(error), frames_, dropped_};
}
