// PHD2's event server without its socket: the bytes a client sends go
// through the server's line reader and each line through the JSON-RPC
// dispatcher with the guider's methods, on a session with the virtual LEDs
// for the mount and a quick fake camera that it moves, on a fake clock.
// After every line a second passes (the pulses ending on time) and the loop ticks once,
// measuring a frame, so that guiding, dithers, settling and the precise
// mode's calibration go on between a client's requests. The events are
// written as the server sends them.
//
// Input: one request a line. A first line starting with '#' sets the run
// up instead: "precise" in it guides in the precise mode, "values" takes
// a camera that gives its own values (as an INDI camera does), "sky" the
// simulated sky (slower: it renders every pixel) as `quorvel serve` has it.
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

#include "core/capture/simmount.h"
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

constexpr int kMaxTicks = 200;  // seconds per input: a long one stays quick

// A fake camera as quick as one can be, so that a tick costs little: a flat
// sky and one star whose core saturates, 15 x 15 pixels, where the
// simulated mount (the model the simulated sky moves with,
// core/capture/simmount.h) puts it, so that guiding, calibration and dithers
// see it move.
class QuickSky : public CaptureDriver {
public:
    QuickSky(SharedState& state, MountChannel& channel, double x, double y)
        : state_(state), mount_(state, channel), x_(x), y_(y)
    {
    }
    std::string name() const override { return "Quick sky"; }
    CaptureStatus connect() override
    {
        mount_.start(state_.clock.nowUs());
        connected_ = true;
        return {};
    }
    void disconnect() override
    {
        mount_.stop();
        connected_ = false;
    }
    bool connected() const override { return connected_; }
    GrabStatus grab(Picture& p, std::string& error) override
    {
        if (!connected_) {
            error = "not connected";
            return GrabStatus::NoFrame;
        }
        p.fill(0x141414);
        const FieldOffset o = mount_.offset(state_.clock.nowUs());
        const double cx = x_ + o.x, cy = y_ + o.y;
        starX_ = int(std::floor(cx));
        starY_ = int(std::floor(cy));
        for (int j = -7; j <= 7; ++j)
            for (int i = -7; i <= 7; ++i) {
                const int px = starX_ + i, py = starY_ + j;
                if (px < 0 || py < 0 || px >= Picture::width || py >= Picture::height)
                    continue;
                const double r2 = (px - cx) * (px - cx) + (py - cy) * (py - cy);
                const double w = 1 + r2 / 8;
                const int v = std::min(255, 20 + int(600 / (w * w * w)));
                p.at(px, py) = rgbWord(v, v, v);
            }
        return GrabStatus::NewFrame;
    }

protected:
    // The pixel of the star's centre in the last frame.
    int starX() const { return starX_; }
    int starY() const { return starY_; }

private:
    SharedState& state_;
    SimulatedMount mount_;
    double x_, y_;
    int starX_ = 0, starY_ = 0;
    bool connected_ = false;
};

// The same with values of its own, as an INDI camera gives them: NaN in the
// first column (no camera pixel there), and an exposure to set.
class ValuesCamera : public QuickSky {
public:
    using QuickSky::QuickSky;
    GrabStatus grab(Picture& p, std::string& error) override
    {
        const GrabStatus g = QuickSky::grab(p, error);
        // The sky's level everywhere but on the star, as quick as the picture.
        auto v = std::make_shared<std::vector<float>>(p.bits.size(), float(greyLevel(p.bits[0])) * 37.5f);
        for (int y = 0; y < Picture::height; ++y)
            (*v)[size_t(y) * Picture::width] = NAN;
        for (int y = std::max(0, starY() - 8); y <= std::min(Picture::height - 1, starY() + 8); ++y)
            for (int x = std::max(1, starX() - 8); x <= std::min(Picture::width - 1, starX() + 8); ++x)
                (*v)[size_t(y) * Picture::width + size_t(x)] = float(greyLevel(p.at(x, y))) * 37.5f;
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
    bool precise = false, values = false, sky = false;
    if (!input.empty() && input.front() == '#') {
        const std::string_view setup = input.substr(0, input.find('\n'));
        precise = setup.find("precise") != std::string_view::npos;
        values = setup.find("values") != std::string_view::npos;
        sky = setup.find("sky") != std::string_view::npos;
        input.remove_prefix(setup.size() < input.size() ? setup.size() + 1 : input.size());
    }

    CoreRig rig;
    // The calibration file goes nowhere: every input starts uncalibrated.
    rig.core.precise.settingsPath = "/nonexistent/quorvel-fuzz/qv185.dat";
    rig.core.acquisition.setScan([&rig] {
        CaptureDriverList list;
        list.push_back(std::make_unique<QuickSky>(rig.state, rig.core.channel, 160.3, 120.6));
        list.push_back(std::make_unique<ValuesCamera>(rig.state, rig.core.channel, 100.5, 90.2));
        list.push_back(std::make_unique<SimulatedSky>(rig.state, rig.core.channel, "seed=3,drift_x=6,drift_y=-4"));
        while (list.size() < size_t(kCaptureEntries))
            list.push_back(std::make_unique<NoDriver>());
        return list;
    });
    rig.state.driverIndex = sky ? 2 : values ? 1 : 0;
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
            for (int i = 0; i < 100; ++i)
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
    guider.setPublisher({});
    return 0;
}
