// PHD2's event server beside the main window (`quorvel --server`): imaging
// suites drive the guider the window shows. The window's acquisition timer
// ticks the loop; a client's "connect" is the window's own connection of the
// camera chosen in "Video Source"; a region a client places is redrawn as a
// dragged one is. The tracking button and the energy graph follow the
// session by themselves.
#pragma once

#include <string>

#include "core/server/capturehost.h"
#include "qt/eventserver.h"
#include "qt/remoteguider.h"

class GuideLog;
class GuiderCore;
class RavozuzWindow;
struct SharedState;

class WindowServer : public CaptureHost {
public:
    // log: the guide log that records dithers, or nullptr.
    WindowServer(RavozuzWindow& window, SharedState& state, GuiderCore& core, GuideLog* log);
    ~WindowServer() override;
    WindowServer(const WindowServer&) = delete;
    WindowServer& operator=(const WindowServer&) = delete;

    // False with the cause when the address is wrong or the port taken.
    bool listen(const std::string& address, int port, std::string& error);

    RemoteGuider& guider() { return guider_; }
    EventServer& server() { return server_; }

    CaptureStatus startCapture() override;
    void stopCapture() override;
    void placeRegion(int x, int y) override;

private:
    RavozuzWindow& window_;
    SharedState& state_;
    GuiderCore& core_;
    RemoteGuider guider_;
    EventServer server_;
};
