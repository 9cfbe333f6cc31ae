// Ending the process with SIGTERM, SIGINT or SIGHUP (a desktop logging out,
// Ctrl-C in a terminal) runs the program's own shutdown: the handler only
// writes a byte to a pipe, and the event loop then calls the shutdown on its
// own thread, where pulses can be stopped and files written safely. Later
// signals during that shutdown are absorbed the same way.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

class SignalWatch : public QObject {
    Q_OBJECT
public:
    // onSignal runs once, on the event loop's thread, with the signal number.
    explicit SignalWatch(std::function<void(int)> onSignal, QObject* parent = nullptr);
    ~SignalWatch() override;

    // The signal that asked for the shutdown, 0 when none did.
    int received() const { return received_; }

private:
    void readPipe();

    std::function<void(int)> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
    int received_ = 0;
};
