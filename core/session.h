// The guiding session: the guider's one job, measure the star and push it
// back. Given the picture, a measurement cycle measures the analysis region,
// updates the shared state from the result in one place and, while tracking,
// computes the correction and hands it to the mount. Tracking on and off, the
// lock position and the dark frame are switched here, whichever window or
// command asks. The windows, `quorvel pulse` and the headless guider all
// drive this one object; it runs on one thread and never waits except for the
// 5 ms gaps the outputs need.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/guide/correction.h"
#include "core/guide/guideoutput.h"
#include "core/measure/darkarming.h"
#include "core/measure/measure.h"
#include "core/measure/starflux.h"

struct SharedState;
class MountControl;

struct CycleResult {
    Measurement measurement;
    StarFlux flux;                  // the star's mass and SNR (0 for a dropped frame)
    bool tracking = false;          // trackingOn when the cycle ran
    int dx = 0;                     // guiding error, reference minus star (tracking only)
    int dy = 0;
    correction::Result correction;  // computed while tracking
    bool sent = false;              // the correction went to the mount
    SentCorrection pulses;          // what the output sent on each axis
    int64_t timeUs = 0;             // program clock when the measurement began
    // Set when the precise mode measured and corrected this cycle (tracking):
    // the error in fractions of a pixel, and the distances along the
    // calibrated axes (a West pulse corrects a positive RA distance, a South
    // pulse a positive DEC one). dx and dy then hold the error rounded.
    struct Precise {
        double errX = 0;  // reference minus star
        double errY = 0;
        double raDistance = 0;
        double decDistance = 0;
    };
    std::optional<Precise> precise;
};

struct SessionEvent {
    enum class Kind {
        Started,    // tracking on with a new lock ("Track")
        Stopped,    // tracking off ("Track")
        Suspended,  // tracking off, lock kept ("Suspend")
        Resumed,    // tracking on again, lock kept ("Re-start")
        LockMoved,  // the lock position changed while tracking
        RegionMoved,  // the analysis region was placed (a drag, a star found for it)
        Cycle,      // a measurement cycle ran (cycle is set)
    };
    Kind kind = Kind::Cycle;
    const CycleResult* cycle = nullptr;
};

class GuidingSession {
public:
    GuidingSession(SharedState& state, MountControl& mount);
    GuidingSession(const GuidingSession&) = delete;
    GuidingSession& operator=(const GuidingSession&) = delete;

    // The zoom frame, the dark frame and "Util. noir".
    StarAnalysis analysis;

    // One measurement cycle on this picture.
    const CycleResult& measureCycle(const PixelView& picture);
    const CycleResult& lastCycle() const { return last_; }

    // The correction for a guiding error (reference minus star), computed
    // from the settings and sent to the mount unless sendsCorrections is off
    // or the optics are unusable. A measurement cycle calls it while tracking.
    const correction::Result& correct(int dx, int dy);
    // When the pulses of the corrections sent are over, as the output said
    // (program clock, microseconds; 0 before any).
    int64_t correctionEndsUs() const { return correctionEndsUs_; }

    // "Track": the lock is the star's position of the last cycle.
    void startTracking();
    // Tracking with the lock at this picture position (a saved picture
    // measured as if the guider had locked there).
    void trackAt(int lockX, int lockY);
    void stopTracking();
    // "Suspend" and "Re-start": tracking off and on again, the lock kept,
    // graphSuspended set and cleared (each does nothing when already so).
    void suspend();
    void resume();
    // Moves the lock while keeping tracking as it is (a dither).
    void moveLock(int referenceX, int referenceY);
    // The same in fractions of a pixel (the precise mode); referenceX and
    // referenceY hold it rounded.
    void moveLock(double x, double y);
    // The lock in fractions of a pixel: the one last given to moveLock
    // (double) while referenceX and referenceY still hold it rounded,
    // otherwise the whole-pixel reference.
    double lockX() const;
    double lockY() const;

    // The precise mode's cycle: called by every measurement cycle after the
    // design's measurement; when it returns true it has measured and
    // corrected the cycle itself (precise, sent, pulses) and the design's
    // correction is skipped. An empty hook leaves the design's cycle alone.
    using CycleHook = std::function<bool(CycleResult&, const PixelView&)>;
    void setCycleHook(CycleHook hook) { cycleHook_ = std::move(hook); }
    // Counts pulses sent outside a cycle's correction (a calibration step)
    // so that the next cycle measures a frame exposed after them.
    void pulsesSent(const SentCorrection& sent);

    // The guide star chosen on the picture (found for an imaging suite, or
    // the star tracking locked on): the region is placed on it, and every
    // measurement that finds it follows it, until the selection is cleared
    // (a camera connected or disconnected).
    void selectStar(int x, int y);
    void clearStarSelection() { starSelected_ = false; }
    bool starSelected() const { return starSelected_; }
    int starX() const { return starX_; }
    int starY() const { return starY_; }
    // Tracking, and its last cycle dropped by the gate.
    bool starLost() const;

    // Centres the analysis region on a picture position (the pointer while
    // the region is dragged, or a star found for it). While tracking the
    // lock must stay 10 to 90 pixels inside the region on both axes;
    // otherwise the region and its square stay inside the picture
    // (corner 2..218, 2..138).
    void placeRegion(int centreX, int centreY);
    // The region's top-left corner exactly there, as a saved picture's
    // measurement asks for it (no clamp: parts outside read as black).
    void setRegionCorner(int x, int y);

    // "Acq Noir" (and the acquisition tick while a capture is armed).
    DarkArmingStep acquireDark(const PixelView& picture);
    void setUseDarkFrame(bool on) { analysis.useDarkFrame = on; }

    // False: corrections are computed and shown but nothing is sent (a run
    // that measures the drift).
    bool sendsCorrections = true;

    // Listeners are called in the order added, after the change they report.
    int addListener(std::function<void(const SessionEvent&)> listener);
    void removeListener(int id);

    MountControl& mount() { return mount_; }
    SharedState& state() { return state_; }

private:
    void notify(SessionEvent::Kind kind, const CycleResult* cycle = nullptr);
    void apply(const Measurement& m);

    SharedState& state_;
    MountControl& mount_;
    CycleResult last_;
    int64_t correctionEndsUs_ = 0;
    bool starSelected_ = false;
    double lockX_ = 0;  // moveLock(double)
    double lockY_ = 0;
    CycleHook cycleHook_;
    int starX_ = 0;
    int starY_ = 0;
    struct Entry {
        int id;
        std::function<void(const SessionEvent&)> listener;
    };
    std::vector<Entry> listeners_;
    int nextId_ = 1;
};

// The correction's inputs from the settings and the main window's inhibits.
correction::Inputs correctionInputs(const SharedState& state, int dx, int dy);

// True when the settings' optics and guide speeds give a correction; when
// they do not, no cycle sends anything.
bool opticsUsable(const SharedState& state);
