// INDI with no server, or a server with nothing on it: the address, the
// half-second rule, no thread left behind, clear messages, and a mount
// output that still announces every command on the channel.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>

#include "core/corerig.h"
#include "core/indi/indicamera.h"
#include "core/indi/indiconnection.h"
#include "core/indi/indimount.h"
#include "ptyline.h"

namespace {

int threadCount()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Threads:", 0) == 0)
            return std::stoi(line.substr(8));
    return -1;
}

// A loopback port of our own: refused, or listening with nobody speaking.
class LoopbackPort {
public:
    explicit LoopbackPort(bool listening) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(fd_, reinterpret_cast<sockaddr*>(&a), len);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        if (listening)
            listen(fd_, 4);
    }
    ~LoopbackPort() { close(fd_); }
    IndiServerAddress address() const { return {"127.0.0.1", port_}; }

private:
    int fd_;
    int port_ = 0;
};

}  // namespace

TEST(IndiConnection, ServerAddressesAreReadOrRefusedWithTheReason)
{
    const char* badPort = "the port must be a number from 1 to 65535";
    struct Case {
        const char* text;
        const char* host;  // nullptr: refused with `error`
        int port;
        const char* error;
    } cases[] = {
        {"localhost:7624", "localhost", 7624, ""}, {"192.168.1.20:7000", "192.168.1.20", 7000, ""},
        {"observatory", "observatory", 7624, ""},  {":7625", "localhost", 7625, ""},
        {"host:65535", "host", 65535, ""},         {"", nullptr, 0, "empty server address"},
        {"host:", nullptr, 0, badPort},            {"host:0", nullptr, 0, badPort},
        {"host:65536", nullptr, 0, badPort},       {"host:76x", nullptr, 0, badPort},
        {"host:-1", nullptr, 0, badPort},          {"indi://host:7624", nullptr, 0, "expected host:port"},
        {"[::1]:7624", nullptr, 0, "expected host:port"}, {"my host:7624", nullptr, 0, "expected host:port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        IndiServerAddress a{"before", 1};
        std::string error;
        EXPECT_EQ(parseIndiServerAddress(c.text, a, error), c.host != nullptr);
        EXPECT_EQ(a.host, c.host ? c.host : "before");  // left as it was when refused
        EXPECT_EQ(a.port, c.host ? c.port : 1);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    ScopedEnv server(kIndiServerVariable, "localhost:seven");
    IndiConnection fromVariable;
    EXPECT_EQ(fromVariable.connect().error,
              "QUORVEL_INDI=\"localhost:seven\": the port must be a number from 1 to 65535");
}

TEST(IndiConnection, NoServerOrAnEmptyOneGivesNothingAMessageAndNoThreadLeft)
{
    const int before = threadCount();
    for (bool listening : {false, true}) {
        SCOPED_TRACE(listening ? "a server with no device" : "no server");
        const LoopbackPort port(listening);
        const std::string where = port.address().text();
        {
            IndiConnection connection(port.address());
            SteadyClock clock;
            const auto start = std::chrono::steady_clock::now();
            EXPECT_TRUE(makeIndiCameras(connection, clock).empty());
            // The library's own connection timeout is 3 s; ours is half of one.
            EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.5);
            EXPECT_EQ(connection.connected(), listening);
            const std::string noServer = "no INDI server at " + where + ": Connection refused";

            IndiCamera camera(connection, clock, "CCD Simulator");
            EXPECT_EQ(camera.connect().error,
                      listening ? "no INDI device \"CCD Simulator\" on the server at " + where : noServer);
            Picture picture;
            std::string error;
            EXPECT_EQ(camera.grab(picture, error), GrabStatus::NoFrame);

            // Applying output 4 connects the mount and reports what is missing.
            CoreRig rig(IndiMount);
            IndiMountOutput mount(connection, rig.core.channel);
            rig.core.mount.setOutput(IndiMount, &mount);
            const InterfaceApplied applied = rig.core.mount.applyInterface();
            ASSERT_TRUE(applied.output);
            EXPECT_EQ(applied.output->error, listening ? "no INDI mount on the server at " + where : noServer);
            EXPECT_FALSE(applied.port);
            IndiMountOutput named(connection, rig.core.channel, "EQMod Mount");
            EXPECT_EQ(named.connect().error, listening ? "no INDI device \"EQMod Mount\" on the server at " + where +
                                                             " (no mount there)"
                                                       : noServer);
            rig.state.params->interfaceType = VirtualLeds;  // another output: the mount is left alone
            EXPECT_FALSE(rig.core.mount.applyInterface().output);
            if (!listening) {
                EXPECT_EQ(threadCount(), before);
            }
        }
        EXPECT_EQ(threadCount(), before);
    }
}

TEST(IndiMountOutput, EveryCommandIsAnnouncedOnTheChannelWithTheSignTablesDirection)
{
    // No mount behind it: the channel's observers (the simulated sky, the
    // log) still see each pulse and motion, in the sign table's directions.
    const LoopbackPort closed(false);
    IndiConnection connection(closed.address());
    CoreRig rig(IndiMount);
    IndiMountOutput mount(connection, rig.core.channel);
    rig.core.mount.setOutput(IndiMount, &mount);
    std::vector<std::string> seen;
    rig.core.channel.addObserver([&seen](const MountEvent& e) {
        const std::string d(1, directionLetter(e.direction));
        seen.push_back(e.kind == MountEvent::Kind::TimedPulse ? d + std::to_string(e.lengthMs)
                       : e.kind == MountEvent::Kind::Motion    ? (e.on ? "+" : "-") + d
                                                               : "other");
    });
    correction::Result r;
    r.valid = true;
    r.ra.pulseMs = 150;
    r.dec.pulseMs = -60;
    r.dec.timedPulse = false;  // held back by an inhibit
    struct Case {
        const char* what;
        std::function<void()> command;
        std::vector<std::string> seen;
    } cases[] = {
        {"AD +", [&] { mount.pulse({GuideAxis::Ra, 300, true, 0, 20}); }, {"W300"}},
        {"AD -", [&] { mount.pulse({GuideAxis::Ra, -45, true, 1, 3}); }, {"E45"}},
        {"DEC +", [&] { mount.pulse({GuideAxis::Dec, 945, true, 2, 63}); }, {"S945"}},
        {"DEC -", [&] { mount.pulse({GuideAxis::Dec, -15, true, 3, 1}); }, {"N15"}},
        {"length 0", [&] { mount.pulse({GuideAxis::Dec, 0, true, 3, 0}); }, {}},
        {"inhibited", [&] { mount.pulse({GuideAxis::Dec, 600, false, 2, 40}); }, {}},
        {"arrow key right", [&] { rig.core.mount.arrowKey(ArrowKey::Right); }, {"W1000"}},
        {"arrow key up", [&] { rig.core.mount.arrowKey(ArrowKey::Up); }, {"S1000"}},
        {"slew N", [&] { rig.core.mount.slew(SlewButton::North, true); }, {"+N"}},
        {"slew N let go", [&] { rig.core.mount.slew(SlewButton::North, false); }, {"-N"}},
        {"slew E", [&] { rig.core.mount.slew(SlewButton::East, true); }, {"+E"}},
        {"correction", [&] { rig.core.mount.sendCorrection(r); }, {"W150"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        seen.clear();
        c.command();
        EXPECT_EQ(seen, c.seen);
    }
    // What the output reports: the pulse as the mount times it from the
    // request on, nothing for one held back, one of no length as such.
    rig.clock.advanceMs(7);
    const int64_t t = rig.clock.nowUs();
    const SentCorrection sent = rig.core.mount.sendCorrection(r);
    EXPECT_EQ(sent.ra, (SentPulse{GuideAxis::Ra, Direction::West, SentPulse::Unit::Milliseconds, 150, t, t + 150000}));
    EXPECT_FALSE(sent.dec);
    const std::optional<SentPulse> none = mount.pulse({GuideAxis::Dec, 0, true, 3, 0});
    ASSERT_TRUE(none);
    EXPECT_EQ(none->length, 0);
    // The timed outputs' machine never ran: the mount times its own pulses.
    EXPECT_FALSE(rig.core.pulses.anyPulsing());
    EXPECT_FALSE(rig.timer.deadline(GuideAxis::Ra));
}
