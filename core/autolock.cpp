// Locking on the guide star by itself.
#include "core/autolock.h"

#include "core/measure/findstar.h"
#include "core/session.h"
#include "core/state.h"

void StarAcquirer::begin(int maxCycles, bool movesRegion)
{
    looking_ = true;
    cycles_ = 0;
    maxCycles_ = maxCycles;
    movesRegion_ = movesRegion;
}

bool StarAcquirer::placeRegionOnStar(const PixelView& picture, const float* values)
{
    const bool darkSpot = state_.params && state_.params->darkSpotGuiding == 1;
    const auto star = findBrightestStar(picture, darkSpot, values);
    if (!star)
        return false;
    const int inX = star->x - state_.regionX;
    const int inY = star->y - state_.regionY;
    if (inX < 10 || inX > 90 || inY < 10 || inY > 90)
        session_.placeRegion(star->x, star->y);
    return true;
}

StarAcquirer::Step StarAcquirer::onCycle(const CycleResult& cycle, const PixelView& picture, const float* values)
{
    if (!looking_)
        return state_.trackingOn ? Step::Locked : Step::Looking;
    ++cycles_;
    const Measurement& m = cycle.measurement;
    const bool starFound = m.population >= 5 && m.population <= 200 && m.centroidX >= 10 &&
                           m.centroidX <= 90 && m.centroidY >= 10 && m.centroidY <= 90;
    // The first cycle's threshold comes from no earlier peak: it never counts.
    if (cycles_ > 1 && starFound) {
        looking_ = false;
        session_.startTracking();
        return Step::Locked;
    }
    if (cycles_ >= maxCycles_) {
        looking_ = false;
        return Step::NotFound;
    }
    // On the first cycle, and every third one after a miss, look again.
    if (movesRegion_ && (cycles_ == 1 || (cycles_ % 3 == 0 && !starFound)))
        placeRegionOnStar(picture, values);
    return Step::Looking;
}
