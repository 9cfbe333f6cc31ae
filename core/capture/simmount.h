// The simulated mount under the simulated sky: where the field lies, in
// picture pixels from its start, at any time of the program clock. It drifts
// (a mount badly polar-aligned), rocks on AD with its periodic error, shakes
// with the seeing, and moves at guide speed for every command the program
// sends on the output chosen at that moment, as a mount wired to it would.
//
// Which way each command moves the star (the corrections then pull the star
// back to its lock with no inversion option set):
//
//   command                                           star moves
//   West:  relay code 0, "#:Mw#", AD lamp West,  pulse/motion West    -x
//   East:  relay code 1, "#:Me#", AD lamp East,  pulse/motion East    +x
//   South: relay code 2, "#:Ms#", DEC lamp South, pulse/motion South  -y
//   North: relay code 3, "#:Mn#", DEC lamp North, pulse/motion North  +y
//
// (Relay code 2 is the "N" slew button's code and moves like "#:Ms#": the
// wiring of the relay box to the mount is the user's.)
//
// What counts, by the settings' interfaceType when the command is sent:
//   0 relay box:  relay bytes; a count c > 0 is a pulse of c/63 s that the
//                 box times itself from the byte on; a count of 0 (the
//                 closing byte) does nothing.
//   1, 2 serial:  "#:Mn#" "#:Ms#" "#:Me#" "#:Mw#" move until "#:Qn#"/"#:Qs#"
//                 (DEC), "#:Qe#"/"#:Qw#" (AD) or "#:Q#" (both); "#:RG#" picks
//                 the guide rate, the only one simulated.
//   3 LED window: a lit square moves its axis until the axis goes dark.
//   4 a mount that times its own pulses: timed pulses and motions.
// A new command on an axis ends the axis's running one. Speeds are raSpeed
// (AD) and decSpeed (DEC) arcseconds per second times the rate, over the
// image scale of the settings' optics; unusable optics (no focal length, a
// scale that is not finite or not above zero) move nothing.
#pragma once

#include "core/settings/tparam.h"

#include <cstdint>

#include "core/guide/mountchannel.h"

struct SharedState;

inline constexpr int32_t kTimedMountInterface = IndiMount;

// The unguided motion of the field.
struct MountModel {
    double driftX = 3.0;        // pixels per minute
    double driftY = -2.0;
    double peAmplitude = 1.5;   // pixels, on x
    double pePeriod = 120.0;    // seconds
    double seeing = 0.25;       // pixels RMS per frame, each axis
    double rate = 1.0;          // guide rate, times the settings' speeds
    uint64_t seed = 1;
};

struct FieldOffset {
    double x = 0;
    double y = 0;
};

class SimulatedMount {
public:
    SimulatedMount(SharedState& state, MountChannel& channel);
    ~SimulatedMount();
    SimulatedMount(const SimulatedMount&) = delete;
    SimulatedMount& operator=(const SimulatedMount&) = delete;

    MountModel model;

    // The mount runs from start() (time zero of drift and periodic error,
    // guided offset zero) until stop(); commands outside that are ignored.
    void start(int64_t nowUs);
    void stop();
    bool running() const { return running_; }
    int64_t epochUs() const { return epochUs_; }

    // Offset of the field at this time: drift, periodic error, the guided
    // motions, and the seeing of a frame taken then (or not: where the
    // mount points).
    FieldOffset offset(int64_t timeUs, bool withSeeing = true) const;
    // The guided part alone.
    FieldOffset guided(int64_t timeUs) const;

private:
    struct AxisMotion {
        double settled = 0;       // pixels from the motions that ended
        bool moving = false;
        int64_t startUs = 0;
        int64_t endUs = 0;        // INT64_MAX until a stop
        double velocity = 0;      // pixels per second
        double at(int64_t timeUs) const;
        void halt(int64_t timeUs);
        void move(int64_t timeUs, int64_t endUs, double velocity);
    };
    void observe(const MountEvent& e);
    void move(Direction d, int64_t fromUs, int64_t untilUs);
    void halt(GuideAxis axis, int64_t timeUs);
    double velocity(Direction d) const;
    AxisMotion& axis(GuideAxis a) { return a == GuideAxis::Ra ? ra_ : dec_; }

    SharedState& state_;
    MountChannel& channel_;
    int observerId_ = 0;
    bool running_ = false;
    int64_t epochUs_ = 0;
    AxisMotion ra_;
    AxisMotion dec_;
};

// Deterministic noise: a 64-bit mix of a key, and a standard normal value
// drawn from it.
uint64_t mixBits(uint64_t key);
double normalFromBits(uint64_t bits);
