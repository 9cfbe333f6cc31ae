// Signals turned into a normal shutdown.
#include "qt/signalwatch.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int gPipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void onSignal(int sig)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    // A full pipe means a shutdown is already on its way.
    [[maybe_unused]] const ssize_t n = write(gPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

SignalWatch::SignalWatch(std::function<void(int)> onSignalFn, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignalFn))
{
    if (gPipe[0] < 0 && pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier_ = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalWatch::readPipe);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : kSignals)
        sigaction(sig, &sa, nullptr);
}

SignalWatch::~SignalWatch()
{
    // The shutdown is over: a signal now ends the process as usual.
    for (int sig : kSignals)
        signal(sig, SIG_DFL);
}

void SignalWatch::readPipe()
{
    unsigned char byte = 0;
    while (read(gPipe[0], &byte, 1) == 1) {
        if (received_ == 0) {
            received_ = byte;
            if (onSignal_)
                onSignal_(byte);
        }
    }
}
