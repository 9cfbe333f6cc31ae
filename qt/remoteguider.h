// The guider as an imaging suite (N.I.N.A., KStars Ekos, CCDciel, SGP) sees
// it through PHD2's event server: PHD2's methods, carried out with the same
// calls the windows make (the guiding session, the acquisition loop, the
// star acquirer), and PHD2's events, worked out from the session's own
// events, so that what a window does reaches the clients too.
//
// No socket here (EventServer carries the lines): methods are registered on
// a JsonRpcDispatcher (remotemethods.cpp), events go to a publisher
// (remoteguider.cpp, with PHD2's builders of phdevents.h). The ticks of the
// acquisition loop and the session's cycles reach it as their listener. The
// guiding state (tracking, the pause, the lock, the region, the star chosen)
// is the session's, read from it; a client's request as it goes is a
// GuideRequest. Everything runs on the one thread of the guiding.
#pragma once

#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

#include "core/autolock.h"
#include "core/capture/acquisition.h"
#include "core/server/appstate.h"
#include "core/server/guiderequest.h"
#include "qt/phdevents.h"
#include "qt/phdparams.h"
#include "qt/jsonrpc.h"

struct SharedState;
struct SessionEvent;
struct CalibrationStep;
class LoopTimer;
class GuideLog;
class GuiderCore;

class RemoteGuider {
public:
    static constexpr const char* kVersion = "Quorvel 1.85";

    // loop: the program's own loop (the window's, or that of `quorvel
    // serve`), which a client's camera requests connect and stop.
    RemoteGuider(SharedState& state, GuiderCore& core, LoopTimer& loop);
    ~RemoteGuider();
    RemoteGuider(const RemoteGuider&) = delete;
    RemoteGuider& operator=(const RemoteGuider&) = delete;

    // Where the events go (every client); nothing is sent without one.
    void setPublisher(std::function<void(const QJsonObject&)> publish) { publish_ = std::move(publish); }
    // The guide log that records dithers and settling (nullptr: none).
    void setGuideLog(GuideLog* log) { log_ = log; }
    // Numbers in [0, 1) for the dithers; a seeded generator by default.
    void setRandom(std::function<double()> uniform01) { uniform_ = std::move(uniform01); }

    void registerMethods(JsonRpcDispatcher& dispatcher);

    // Guiding in the precise mode, with PHD2's calibration: `guide`
    // calibrates first when the saved calibration does not fit (or when
    // asked to), positions in fractions of a pixel. Before registerMethods.
    void setPrecise(bool on);
    bool precise() const { return precise_; }

    // What a client gets on connection: Version, the lock and the selected
    // star when there are, the state last.
    std::vector<QJsonObject> catchUpEvents() const;

    AppState appState() const;

private:
    // Events (remoteguider.cpp).
    void afterTick(const AcquisitionLoop::Tick& tick);
    void onSession(const SessionEvent& e);
    void onCycle(const CycleResult& c);
    void guideStep(const CycleResult& c);
    void captureStopped();
    void publish(const QJsonObject& e);
    void publishState();
    // Tracking, or suspended with its lock.
    bool guiding() const;

    // A request's settling (remoteguider.cpp).
    void beginSettling(const SettleParams& settle);
    void settleDone(const SettleOutcome& o);
    void giveUpSettling(const std::string& why);

    // Methods (remotemethods.cpp).
    RpcReply setConnected(const QJsonValue& params);
    RpcReply equipment();
    RpcReply setExposure(const QJsonValue& params);
    RpcReply decGuideMode() const;
    RpcReply loop();
    RpcReply findStar(const QJsonValue& params);
    RpcReply guide(const QJsonValue& params);
    RpcReply dither(const QJsonValue& params);
    RpcReply setPaused(const QJsonValue& params);
    RpcReply stopCapture();
    RpcReply starImage(const QJsonValue& params);
    // The camera the server uses: the one connected, else the entry of
    // driverIndex (nullptr when there is none).
    CaptureDriver* camera();
    // Whether the camera is connected to its device (or kept so for a
    // client while its capture is stopped).
    bool cameraConnected() const;
    // Connects the camera unless it runs; the cause when it cannot.
    std::optional<QString> ensureCapture();
    std::optional<QString> selectStar(const std::optional<phd::Roi>& roi);
    // The precise mode's methods and calibration (remotemethods.cpp).
    void registerPreciseMethods(JsonRpcDispatcher& d);
    RpcReply setLockPosition(const QJsonValue& params);
    RpcReply calibrationData();
    void onCalibrationStep(const CalibrationStep* step);
    bool calibrating() const;
    QString mountName() const;
    double lockX() const;
    double lockY() const;

    SharedState& state_;
    GuiderCore& core_;
    LoopTimer& loop_;
    PhdEvents events_;
    StarAcquirer acquirer_;
    GuideRequest request_;
    std::function<void(const QJsonObject&)> publish_;
    std::function<double()> uniform_;
    GuideLog* log_ = nullptr;
    int listener_ = 0;
    int tickListener_ = 0;
    bool precise_ = false;
    int stepListener_ = 0;
    std::optional<SettleParams> settleAfterCalibration_;  // a guide request waiting for its calibration

    bool equipmentConnected_ = false;  // set_connected true, or a camera started for a client
    int holdState_ = 0;       // AppState events held while a request changes several things
    int frame_ = 0;           // cycles since the camera started
    int guideFrame_ = 0;      // guide frames since tracking started
    int64_t guideStartUs_ = 0;
    double avgDist_ = 0;      // PHD2's smoothed distance from the lock
    bool avgDistReset_ = false;  // the lock moved: the next frame's distance starts it again
    bool selectedBefore_ = false;  // a star was already selected when the guide was asked
    AppState published_ = AppState::Stopped;
};
