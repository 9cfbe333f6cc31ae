// The event server beside the main window.
#include "ui/serverhost.h"

#include "core/guider.h"
#include "core/state.h"
#include "ui/captureview.h"
#include "ui/ravozuzwin.h"

WindowServer::WindowServer(RavozuzWindow& window, SharedState& state, GuiderCore& core, GuideLog* log)
    : window_(window), state_(state), core_(core), guider_(state, core, *this), server_(guider_)
{
    guider_.setGuideLog(log);
    window_.tickObserver = [this](const AcquisitionLoop::Tick& t) { guider_.afterTick(t); };
}

WindowServer::~WindowServer() { window_.tickObserver = nullptr; }

bool WindowServer::listen(const std::string& address, int port, std::string& error)
{
    QString why;
    if (server_.listen(QString::fromStdString(address), quint16(port), why))
        return true;
    error = why.toStdString();
    return false;
}

CaptureStatus WindowServer::startCapture()
{
    // ConnectCapture without its message box: the client hears the cause.
    window_.captureView->show();
    const CaptureStatus status = core_.acquisition.connect(state_.driverIndex);
    if (status.ok)
        window_.acquisitionTimer.start();
    return status;
}

void WindowServer::stopCapture()
{
    window_.acquisitionTimer.stop();
    core_.acquisition.disconnect();
}

void WindowServer::placeRegion(int x, int y)
{
    // As a drag does: the video shows the region at its new place.
    core_.session.placeRegion(x, y);
    window_.captureView->update();
}
