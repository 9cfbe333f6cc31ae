// PHD2's event server beside the main window (`quorvel --server`): imaging
// suites drive the guider the window shows. A client's "connect" is the
// window's own loop connecting the camera chosen in "Video Source"; the
// window follows the session (the region, tracking, the energy graph) by
// itself.
#pragma once

#include <string>

#include "qt/eventserver.h"
#include "qt/remoteguider.h"

class GuideLog;
class GuiderCore;
class RavozuzWindow;
struct SharedState;

class WindowServer {
public:
    // log: the guide log that records dithers, or nullptr.
    WindowServer(RavozuzWindow& window, SharedState& state, GuiderCore& core, GuideLog* log);
    WindowServer(const WindowServer&) = delete;
    WindowServer& operator=(const WindowServer&) = delete;

    // False with the cause when the address is wrong or the port taken.
    bool listen(const std::string& address, int port, std::string& error);

    RemoteGuider& guider() { return guider_; }
    EventServer& server() { return server_; }

private:
    RemoteGuider guider_;
    EventServer server_;
};
