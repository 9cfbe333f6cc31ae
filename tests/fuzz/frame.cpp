// The frame loader of `quorvel analyse` (cli/framefile.cpp) on any bytes:
// Qt's image readers behind our size checks and conversion; a frame it
// takes is then measured as the command measures it, plain and as its own
// dark frame.
#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>

#include <cstdint>
#include <string>

#include "cli/framefile.h"
#include "core/clock.h"
#include "core/guider.h"
#include "core/state.h"
#include "qtapp.h"

namespace {
struct NoTimer : PulseTimerPort {
    void arm(GuideAxis, int64_t) override {}
    void disarm(GuideAxis) override {}
};
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    makeFuzzApp<QCoreApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    std::string error;
    const QImage image = readFrame(buffer, "frame", error);
    if (image.isNull())
        return 0;
    FakeClock clock;
    SharedState state(clock);
    NoTimer timer;
    GuiderCore core(state, timer);
    core.session.sendsCorrections = false;
    core.session.measureCycle(viewOf(image));
    core.session.analysis.CaptureDark(viewOf(image));
    core.session.setUseDarkFrame(true);
    core.session.measureCycle(viewOf(image));
    return 0;
}
