// Locking on the guide star without a hand on the mouse (the headless
// guider, an imaging suite's "guide"): the first measurement cycle places the
// analysis region on the brightest star of the picture when the star is not
// well inside it, and tracking starts at the first later cycle that finds the
// star, once the automatic threshold has been learned from a previous
// cycle's peak.
#pragma once

#include "core/picture.h"

struct SharedState;
class GuidingSession;
struct CycleResult;

class StarAcquirer {
public:
    enum class Step { Looking, Locked, NotFound };

    StarAcquirer(SharedState& state, GuidingSession& session) : state_(state), session_(session) {}

    // Starts looking afresh; gives up after maxCycles cycles without a star.
    // With movesRegion false the region stays where it is (a star already
    // chosen there) and only the lock is waited for.
    void begin(int maxCycles = 15, bool movesRegion = true);
    bool looking() const { return looking_; }
    // Stops looking (guiding given up before a star was locked).
    void cancel() { looking_ = false; }

    // Called with every measurement cycle (and the picture it measured,
    // with the camera's own values of it when it gives them) while
    // looking: moves the region, starts tracking, or gives up.
    Step onCycle(const CycleResult& cycle, const PixelView& picture, const float* values = nullptr);

    // Centres the region on the brightest star (by the camera's values when
    // given, findstar.h) when the star is not at least 10 pixels inside it;
    // false when the picture shows no star.
    bool placeRegionOnStar(const PixelView& picture, const float* values = nullptr);

private:
    SharedState& state_;
    GuidingSession& session_;
    bool looking_ = false;
    int cycles_ = 0;
    int maxCycles_ = 15;
    bool movesRegion_ = true;
};
