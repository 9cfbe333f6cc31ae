// A client's guide or dither as it goes.
#include "core/server/guiderequest.h"

bool GuideRequest::locked(int64_t nowUs)
{
    if (!pending_)
        return false;
    settler_.begin(*pending_, nowUs);
    pending_.reset();
    return true;
}

void GuideRequest::settle(const SettleParams& settle, int64_t nowUs)
{
    pending_.reset();
    settler_.begin(settle, nowUs);
}

std::optional<SettleOutcome> GuideRequest::onFrame(double distance, bool starLocked, int64_t nowUs,
                                                   SettleProgress& progress)
{
    if (!settler_.active()) {
        progress = {};
        return std::nullopt;
    }
    return settler_.onFrame(distance, starLocked, nowUs, progress);
}

std::optional<SettleOutcome> GuideRequest::cancel(const std::string& why)
{
    if (pending_) {
        pending_.reset();
        return SettleOutcome{false, why, 0, 0};
    }
    if (settler_.active())
        return settler_.cancel(why);
    return std::nullopt;
}
