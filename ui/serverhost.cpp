// The event server beside the main window.
#include "ui/serverhost.h"

#include "ui/ravozuzwin.h"

WindowServer::WindowServer(RavozuzWindow& window, SharedState& state, GuiderCore& core, GuideLog* log)
    : guider_(state, core, window.loop), server_(guider_)
{
    guider_.setGuideLog(log);
}

bool WindowServer::listen(const std::string& address, int port, std::string& error)
{
    QString why;
    if (server_.listen(QString::fromStdString(address), quint16(port), why))
        return true;
    error = why.toStdString();
    return false;
}
