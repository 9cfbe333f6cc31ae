// The precise mode of the guider: beside the design's loop, opt-in. While it
// is on, every measurement cycle measures the star in fractions of a pixel
// (precisestar.h, on the camera's own values when it gives them), and,
// while the session tracks, turns its offset from the session's fractional
// lock into RA and DEC pulses with the calibration (guidealgo.h) and sends
// them on the chosen output; or, while a calibration runs, feeds the
// Calibrator, sends its pulses and keeps the region on the star. Tracking,
// suspend and the lock stay the session's. The calibration is kept in the
// precise file beside the settings file (calibfile.h) and reused while it
// fits the output, the camera and the image scale.
#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/log/guidelog.h"
#include "core/precise/calibfile.h"
#include "core/precise/calibration.h"
#include "core/precise/guidealgo.h"
#include "core/precise/precisestar.h"
#include "core/settings/tparam.h"

struct SharedState;
class GuidingSession;
class MountControl;
class AcquisitionLoop;
struct CycleResult;
struct SentCorrection;
struct PixelView;

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
    PreciseMode(SharedState& state, GuidingSession& session, MountControl& mount, AcquisitionLoop& acquisition);
    ~PreciseMode();
    PreciseMode(const PreciseMode&) = delete;
    PreciseMode& operator=(const PreciseMode&) = delete;

    void setOn(bool on);                   // off: the design's loop as before
    bool on() const { return status_.on; }
    bool calibrate();                      // starts a calibration on the star in the region; false (status errorFr set) when it cannot
    void clearCalibration();
    void flipCalibration();
    const PreciseStatus& status() const { return status_; }
    int addListener(std::function<void()> changed);   // called after status changes
    void removeListener(int id);

    // Where the calibration file lives: beside this settings file.
    std::string settingsPath = kSettingsFileName;
    // Whether the calibration file's calibration (or the one just made)
    // fits the output, camera and image scale of now; loads the file first.
    bool calibrationValid();
    // The calibration in use (valid or not), nothing when none.
    std::optional<StoredCalibration> calibration();
    // The calibration under way or last run (its steps), nullptr before any.
    const Calibrator* calibrator() const { return calibrator_.get(); }
    // The guide log's calibration section for the calibration under way or
    // last run (empty before any).
    std::vector<std::string> calibrationLog() const;
    // The calibration's axes for the guide log's Mount line (none without one).
    std::optional<GuideLog::MountAxes> logAxes();
    // Why the last calibration failed, in English.
    const std::string& error() const { return error_; }
    // The last precise star measured (any mode, any cycle while on).
    const PreciseStar& star() const { return star_; }
    // Measures the star in the region of the picture now (a star chosen).
    const PreciseStar& measureNow();
    // Called with every calibration step recorded, then once when the
    // calibration ends (done or failed).
    int addStepListener(std::function<void(const CalibrationStep*)> step);
    void removeStepListener(int id);
    // The lock moved by a dither along the calibrated axes (px).
    PointPx ditherOffset(double ra, double dec, bool raOnly) const;

    PreciseStarFinder finder;
    PreciseGuider guider;

private:
    bool cycle(CycleResult& c, const PixelView& picture);
    bool measure(const PixelView& picture);
    void onTick(bool newFrame, bool cycle);
    void calibrationCycle(CycleResult& c);
    void guideCycle(CycleResult& c);
    SentCorrection send(Direction raDir, int raMs, Direction decDir, int decMs, bool ra, bool dec);
    void endCalibration(bool ok);
    void useCalibration(const StoredCalibration& stored);
    std::string cameraName() const;
    double imageScale() const;
    void changed();

    SharedState& state_;
    GuidingSession& session_;
    MountControl& mount_;
    AcquisitionLoop& acquisition_;
    PreciseStatus status_;
    PreciseRegion region_;
    PreciseStar star_;
    std::unique_ptr<Calibrator> calibrator_;
    std::optional<StoredCalibration> stored_;
    bool loaded_ = false;       // the file was read
    std::string error_;
    std::tm calibrationBegan_{};
    bool lockPending_ = false;  // tracking started: the lock is the next precise star
    // The star of the frames since the last cycle, exposed after the last
    // pulse: averaged into the cycle's position, so that the seeing of one
    // frame does not go out as a pulse.
    double sumX_ = 0, sumY_ = 0;
    int frames_ = 0;
    int sessionListener_ = 0;
    int tickListener_ = 0;
    struct Listener {
        int id;
        std::function<void()> call;
    };
    std::vector<Listener> listeners_;
    struct StepListener {
        int id;
        std::function<void(const CalibrationStep*)> call;
    };
    std::vector<StepListener> stepListeners_;
    int nextId_ = 1;
};
