// PHD2's event server without its socket: the bytes a client sends go
// through the server's line reader and each line through the JSON-RPC
// dispatcher with the guider's methods, on a session with the simulated sky
// for camera and the virtual LEDs for mount, on a fake clock. After every
// line the loop ticks once (200 ms), as it does between a client's
// requests, so that guiding, dithers, settling and the precise mode's
// calibration go on. The events are written as the server sends them.
//
// Input: one request a line. A first line starting with '#' sets the run
// up instead: "precise" in it guides in the precise mode, "values" takes
// a camera that gives its own values (as an INDI camera does).
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

#include "core/capture/simsky.h"
#include "core/corerig.h"
#include "core/measure/measure.h"
#include "core/server/linereader.h"
#include "qt/eventserver.h"
#include "qt/jsonrpc.h"
#include "qt/looptimer.h"
#include "qt/remoteguider.h"
#include "qtapp.h"

namespace {

constexpr int kMaxTicks = 600;  // per input (two minutes): a long one stays quick

// The simulated sky with values of its own, as an INDI camera gives them:
// NaN in the first column (no camera pixel there), an exposure to set.
class ValuesCamera : public SimulatedSky {
public:
    using SimulatedSky::SimulatedSky;
    GrabStatus grab(Picture& p, std::string& error) override
    {
        const GrabStatus g = SimulatedSky::grab(p, error);
        auto v = std::make_shared<std::vector<float>>(p.bits.size());
        for (size_t i = 0; i < v->size(); ++i)
            (*v)[i] = i % Picture::width == 0 ? NAN : float(greyLevel(p.bits[i])) * 37.5f;
        values_ = std::move(v);
        return g;
    }
    std::shared_ptr<const std::vector<float>> pictureValues() const override { return values_; }
    std::string exposureControl() const override { return "exposure"; }
    std::vector<CaptureControl> controls() override
    {
        return {{"exposure", "Exposure (s)", CaptureControl::Kind::Integer, 5, 20000, 1, 1000, exposureMs_, 0.001, {}}};
    }
    CaptureStatus setControl(const std::string& id, int64_t ms) override
    {
        if (id != "exposure")
            return CaptureStatus::failure("no such control");
        exposureMs_ = ms;
        return {};
    }

private:
    int64_t exposureMs_ = 1000;
    std::shared_ptr<const std::vector<float>> values_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    makeFuzzApp<QCoreApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    bool precise = false, values = false;
    if (!input.empty() && input.front() == '#') {
        const std::string_view setup = input.substr(0, input.find('\n'));
        precise = setup.find("precise") != std::string_view::npos;
        values = setup.find("values") != std::string_view::npos;
        input.remove_prefix(setup.size() < input.size() ? setup.size() + 1 : input.size());
    }

    CoreRig rig;
    // The calibration file goes nowhere: every input starts uncalibrated.
    rig.core.precise.settingsPath = "/nonexistent/quorvel-fuzz/qv185.dat";
    rig.core.acquisition.setScan([&rig] {
        CaptureDriverList list;
        list.push_back(std::make_unique<SimulatedSky>(rig.state, rig.core.channel, "seed=3,drift_x=6,drift_y=-4"));
        list.push_back(std::make_unique<ValuesCamera>(rig.state, rig.core.channel, "seed=5,star_x=100,star_y=90"));
        while (list.size() < size_t(kCaptureEntries))
            list.push_back(std::make_unique<NoDriver>());
        return list;
    });
    rig.state.driverIndex = values ? 1 : 0;
    LoopTimer loop(rig.core.acquisition);
    RemoteGuider guider(rig.state, rig.core, loop);
    guider.setPrecise(precise);
    int draw = 0;
    guider.setRandom([&draw] { return double(draw++ % 7) / 7.0; });
    // QUORVEL_FUZZ_VERBOSE=1: what the client would receive, on stderr.
    static const bool verbose = qEnvironmentVariableIsSet("QUORVEL_FUZZ_VERBOSE");
    QByteArray sent;
    const auto send = [&sent](const QByteArray& line) {
        sent = line;
        if (verbose && !line.isEmpty())
            std::fprintf(stderr, "%s\n", line.constData());
    };
    guider.setPublisher([&send](const QJsonObject& e) { send(QJsonDocument(e).toJson(QJsonDocument::Compact)); });
    JsonRpcDispatcher rpc;
    guider.registerMethods(rpc);
    for (const QJsonObject& e : guider.catchUpEvents())
        send(QJsonDocument(e).toJson(QJsonDocument::Compact));

    int ticks = 0;
    LineReader reader(EventServer::kMaxLineBytes);
    const auto onLine = [&](std::string_view line, bool tooLong) {
        send(tooLong ? JsonRpcDispatcher::lineTooLong(EventServer::kMaxLineBytes)
                     : rpc.handleLine(QByteArray(line.data(), qsizetype(line.size()))));
        if (ticks++ < kMaxTicks) {
            for (int i = 0; i < 20; ++i)
                rig.advanceMs(10);
            if (loop.active())
                loop.tick();
        }
    };
    // In two reads, as a socket may cut the bytes anywhere.
    const size_t half = input.size() / 2;
    reader.feed(input.substr(0, half), onLine);
    reader.feed(input.substr(half), onLine);
    loop.disconnect();
    return 0;
}
