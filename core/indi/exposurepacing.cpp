// The pace of an INDI camera's exposures.
#include "core/indi/exposurepacing.h"

void ExposurePacing::asked()
{
    exposing_ = true;
    askedUs_ = clock_.nowUs();
}

void ExposurePacing::ended()
{
    exposing_ = false;
    endedUs_ = clock_.nowUs();
}

bool ExposurePacing::due(int exposureMs) const
{
    const int64_t now = clock_.nowUs();
    return exposing_ ? now - askedUs_ > int64_t(exposureMs) * 1000 + kFrameOverdueUs : now - endedUs_ > kRetryUs;
}
