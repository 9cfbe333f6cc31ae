// TEMPORARY stand-in, replaced at merge by the guiding core's own precisemode.h: it only stores the status and calls the listeners, so that the windows build and their tests run.
// The precise mode's interface as the windows see it: switched on and off,
// a calibration started, flipped or forgotten, and a status that says what
// it does, with listeners called after each change. No guiding here.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/capture/acquisition.h"

struct SharedState;
class GuidingSession;
class MountControl;

struct PreciseStatus {
    bool on = false;                       // the precise mode guides the cycles
    enum class Calib { None, Running, Done, Failed } calib = Calib::None;
    std::string step;                      // the calibration step under way, e.g. "West 3"
    std::string errorFr;                   // why the last calibration failed, in French
    double angleDeg = 0, raRatePxS = 0, decRatePxS = 0, orthoErrDeg = 0;
    bool raFlipped = false, decFlipped = false;   // of the calibration in use (calib Done, or loaded)
    bool calibrated = false;               // a calibration fits the output, camera and scale
    double errX = 0, errY = 0;             // last guide cycle: star minus lock, fractions of a pixel
    bool haveError = false;
};

class PreciseMode {
public:
    PreciseMode(SharedState&, GuidingSession&, MountControl&, AcquisitionLoop& acquisition)
        : acquisition_(acquisition)
    {
    }
    PreciseMode(const PreciseMode&) = delete;
    PreciseMode& operator=(const PreciseMode&) = delete;

    void setOn(bool on)                    // off: the design's loop as before
    {
        if (on == status_.on)
            return;
        status_.on = on;
        if (!on && status_.calib == PreciseStatus::Calib::Running) {
            status_.calib = PreciseStatus::Calib::None;
            status_.step.clear();
        }
        status_.haveError = false;
        changed();
    }
    bool on() const { return status_.on; }
    // starts a calibration on the star in the region; false (status errorFr set) when it cannot
    bool calibrate()
    {
        status_.errorFr.clear();
        if (!acquisition_.connected()) {
            status_.errorFr = "Aucune caméra connectée";
            status_.calib = PreciseStatus::Calib::Failed;
            changed();
            return false;
        }
        status_.on = true;
        status_.calib = PreciseStatus::Calib::Running;
        status_.step = "West 0";
        changed();
        return true;
    }
    void clearCalibration()
    {
        if (status_.calib == PreciseStatus::Calib::Done)
            status_.calib = PreciseStatus::Calib::None;
        status_.calibrated = false;
        status_.angleDeg = status_.raRatePxS = status_.decRatePxS = status_.orthoErrDeg = 0;
        status_.raFlipped = status_.decFlipped = false;
        changed();
    }
    void flipCalibration()
    {
        if (status_.raRatePxS == 0 && status_.decRatePxS == 0)
            return;
        status_.raFlipped = !status_.raFlipped;
        status_.decFlipped = !status_.decFlipped;
        changed();
    }
    const PreciseStatus& status() const { return status_; }
    int addListener(std::function<void()> changed)   // called after status changes
    {
        listeners_.push_back({nextId_, std::move(changed)});
        return nextId_++;
    }
    void removeListener(int id)
    {
        std::erase_if(listeners_, [id](const Listener& l) { return l.id == id; });
    }

private:
    void changed()
    {
        const std::vector<Listener> current = listeners_;
        for (const Listener& l : current)
            l.call();
    }

    AcquisitionLoop& acquisition_;
    PreciseStatus status_;
    struct Listener {
        int id;
        std::function<void()> call;
    };
    std::vector<Listener> listeners_;
    int nextId_ = 1;
};
