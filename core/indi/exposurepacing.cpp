// The pace of an INDI camera's exposures.
#include "core/indi/exposurepacing.h"

#include <algorithm>

void ExposurePacing::asked()
{
    exposing_ = true;
    held_ = false;
    askedUs_ = clock_.nowUs();
}

bool ExposurePacing::holdUntil(int64_t untilUs)
{
    holdUntilUs_ = std::max(holdUntilUs_, untilUs);
    held_ = true;
    if (!exposing_ || askedUs_ >= untilUs)
        return false;
    exposing_ = false;
    aborting_ = true;
    abortedUs_ = clock_.nowUs();
    return true;
}

bool ExposurePacing::frameCame()
{
    if (aborting_) {
        aborting_ = false;
        return false;
    }
    ended();
    return true;
}

void ExposurePacing::ended()
{
    exposing_ = false;
    endedUs_ = clock_.nowUs();
}

bool ExposurePacing::due(int exposureMs) const
{
    const int64_t now = clock_.nowUs();
    if (exposing_)
        return now - askedUs_ > int64_t(exposureMs) * 1000 + kFrameOverdueUs;
    if (now < holdUntilUs_)
        return false;
    if (aborting_)
        return now - abortedUs_ > kAbortSettleUs;
    return held_ || now - endedUs_ > kRetryUs;
}
