// The guider's one loop on a QtCore event loop.
#include "qt/looptimer.h"

LoopTimer::LoopTimer(AcquisitionLoop& loop) : loop_(loop)
{
    timer_.setInterval(AcquisitionLoop::kTickMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] { loop_.tick(); });
    listener_ = loop_.addTickListener([this](const AcquisitionLoop::Tick& t) {
        if (t.grab == GrabStatus::Lost)
            timer_.stop();
    });
}

LoopTimer::~LoopTimer() { loop_.removeTickListener(listener_); }

CaptureStatus LoopTimer::connect(int index)
{
    timer_.stop();
    const CaptureStatus status = loop_.connect(index);
    if (!status.ok)
        return status;
    if (CaptureDriver* camera = loop_.connected(); format_ && camera->currentFormat() != *format_) {
        const CaptureStatus formatted = camera->setFormat(*format_);
        if (!formatted.ok) {
            loop_.disconnect();
            return CaptureStatus::failure("format " + std::to_string(*format_) + ": " + formatted.error);
        }
    }
    timer_.start();
    return status;
}

void LoopTimer::disconnect()
{
    timer_.stop();
    loop_.disconnect();
}

AcquisitionLoop::Tick LoopTimer::tick() { return loop_.tick(); }
