// INDI with no server, or a server with nothing on it: the address, the
// half-second rule, no thread left behind, clear messages, and a mount
// output that still announces every command on the channel.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>

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

// A loopback TCP socket bound to a port of its own; listening or not.
class LoopbackPort {
public:
    explicit LoopbackPort(bool listen)
    {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        if (listen)
            ::listen(fd_, 4);  // the kernel answers; nobody ever speaks
    }
    ~LoopbackPort() { ::close(fd_); }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

double secondsSince(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

TEST(IndiConnection, ServerAddressesAreReadOrRefusedWithTheReason)
{
    struct Case {
        const char* text;
        bool ok;
        const char* host;
        int port;
        const char* error;
    } cases[] = {
        {"localhost:7624", true, "localhost", 7624, ""},
        {"192.168.1.20:7000", true, "192.168.1.20", 7000, ""},
        {"observatory", true, "observatory", 7624, ""},
        {":7625", true, "localhost", 7625, ""},
        {"host:65535", true, "host", 65535, ""},
        {"", false, "", 0, "empty server address"},
        {"host:", false, "", 0, "the port must be a number from 1 to 65535"},
        {"host:0", false, "", 0, "the port must be a number from 1 to 65535"},
        {"host:65536", false, "", 0, "the port must be a number from 1 to 65535"},
        {"host:76x", false, "", 0, "the port must be a number from 1 to 65535"},
        {"host:-1", false, "", 0, "the port must be a number from 1 to 65535"},
        {"indi://host:7624", false, "", 0, "expected host:port"},
        {"[::1]:7624", false, "", 0, "expected host:port"},
        {"my host:7624", false, "", 0, "expected host:port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        IndiServerAddress a{"before", 1};
        std::string error;
        EXPECT_EQ(parseIndiServerAddress(c.text, a, error), c.ok);
        if (c.ok) {
            EXPECT_EQ(a.host, c.host);
            EXPECT_EQ(a.port, c.port);
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            EXPECT_EQ(a.host, "before");  // left as it was
        }
    }
}

TEST(IndiConnection, AMalformedServerVariableIsTheConnectionsMessage)
{
    ScopedEnv server(kIndiServerVariable, "localhost:seven");
    IndiConnection connection;
    const IndiStatus s = connection.connect();
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(s.error, "QUORVEL_INDI=\"localhost:seven\": the port must be a number from 1 to 65535");
    EXPECT_TRUE(makeIndiCameras(connection).empty());
}

TEST(IndiConnection, NoServerMeansNoCamerasNoMountAndNoThread)
{
    const int before = threadCount();
    const LoopbackPort closed(false);  // bound, not listening: refused
    const IndiServerAddress address{"127.0.0.1", closed.port()};
    const std::string expected = "no INDI server at " + address.text() + ": Connection refused";
    {
        IndiConnection connection(address);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(makeIndiCameras(connection).empty());
        // INDI's own connection timeout is three seconds: ours is half of one.
        EXPECT_LT(secondsSince(start), 2.5);
        EXPECT_FALSE(connection.connected());
        EXPECT_EQ(connection.connect().error, expected);

        IndiCamera camera(connection, "CCD Simulator");
        const CaptureStatus c = camera.connect();
        EXPECT_FALSE(c.ok);
        EXPECT_EQ(c.error, expected);
        Picture picture;
        picture.fill(0x123456);
        std::string error;
        EXPECT_EQ(camera.grab(picture, error), GrabStatus::NoFrame);
        EXPECT_EQ(picture.bits[0], 0xff123456u);

        CoreRig rig(IndiMount);
        IndiMountOutput mount(connection, rig.core.channel, "Telescope Simulator");
        rig.core.mount.setOutput(IndiMount, &mount);
        const InterfaceApplied applied = rig.core.mount.applyInterface();
        ASSERT_TRUE(applied.output);
        EXPECT_FALSE(applied.output->ok);
        EXPECT_EQ(applied.output->error, expected);
        EXPECT_FALSE(applied.port);
        EXPECT_FALSE(mount.ready());
        rig.state.params->interfaceType = VirtualLeds;  // another output: the mount is left alone
        EXPECT_FALSE(rig.core.mount.applyInterface().output);
        EXPECT_EQ(threadCount(), before);
    }
    EXPECT_EQ(threadCount(), before);
}

TEST(IndiConnection, AServerWithNothingOnItGivesNothingAndLeavesNoThread)
{
    const int before = threadCount();
    const LoopbackPort silent(true);
    const IndiServerAddress address{"127.0.0.1", silent.port()};
    {
        IndiConnection connection(address);
        EXPECT_TRUE(makeIndiCameras(connection).empty());
        EXPECT_TRUE(connection.devices(IndiDeviceKind::Mount).empty());
        MountChannel* channel = nullptr;
        CoreRig rig(IndiMount);
        channel = &rig.core.channel;
        IndiMountOutput mount(connection, *channel);
        const OutputStatus s = mount.connect();
        EXPECT_FALSE(s.ok);
        EXPECT_EQ(s.error, "no INDI mount on the server at " + address.text());
        IndiMountOutput named(connection, *channel, "EQMod Mount");
        EXPECT_EQ(named.connect().error,
                  "no INDI device \"EQMod Mount\" on the server at " + address.text() + " (no mount there)");
    }
    EXPECT_EQ(threadCount(), before);
}

TEST(IndiMountOutput, EveryCommandIsAnnouncedOnTheChannelWithTheSignTablesDirection)
{
    // No mount behind it: the channel's observers (the simulated sky, the
    // log) still see each pulse and motion, in the sign table's directions.
    const LoopbackPort closed(false);
    IndiConnection connection(IndiServerAddress{"127.0.0.1", closed.port()});
    CoreRig rig(IndiMount);
    IndiMountOutput mount(connection, rig.core.channel);
    rig.core.mount.setOutput(IndiMount, &mount);
    std::vector<std::string> events;
    rig.core.channel.addObserver([&events](const MountEvent& e) {
        if (e.kind == MountEvent::Kind::TimedPulse)
            events.push_back(std::string("pulse ") + directionLetter(e.direction) + " " + std::to_string(e.lengthMs));
        else if (e.kind == MountEvent::Kind::Motion)
            events.push_back(std::string(e.on ? "move " : "stop ") + directionLetter(e.direction));
        else
            events.push_back("other");
    });

    struct Case {
        const char* what;
        std::function<void()> command;
        std::vector<std::string> seen;
    } cases[] = {
        {"AD positive", [&] { mount.pulse({GuideAxis::Ra, 300, true, 0, 20}); }, {"pulse W 300"}},
        {"AD negative", [&] { mount.pulse({GuideAxis::Ra, -45, true, 1, 3}); }, {"pulse E 45"}},
        {"DEC positive", [&] { mount.pulse({GuideAxis::Dec, 945, true, 2, 63}); }, {"pulse S 945"}},
        {"DEC negative", [&] { mount.pulse({GuideAxis::Dec, -15, true, 3, 1}); }, {"pulse N 15"}},
        {"length 0", [&] { mount.pulse({GuideAxis::Dec, 0, true, 3, 0}); }, {}},
        {"inhibited", [&] { mount.pulse({GuideAxis::Dec, 600, false, 2, 40}); }, {}},
        {"arrow key right", [&] { rig.core.mount.arrowKey(ArrowKey::Right); }, {"pulse W 1000"}},
        {"arrow key up", [&] { rig.core.mount.arrowKey(ArrowKey::Up); }, {"pulse S 1000"}},
        {"slew N", [&] { rig.core.mount.slewPress(SlewButton::North); }, {"move N"}},
        {"slew N let go", [&] { rig.core.mount.slewRelease(SlewButton::North); }, {"stop N"}},
        {"slew E", [&] { rig.core.mount.slewPress(SlewButton::East); }, {"move E"}},
        {"correction", [&] {
             correction::Result r;
             r.valid = true;
             r.ra = {10, false, 15, true, 0, 150, true};
             r.dec = {4, false, 6, false, 3, -60, false};  // held back by an inhibit
             rig.core.mount.sendCorrection(r);
         }, {"pulse W 150"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        events.clear();
        c.command();
        EXPECT_EQ(events, c.seen);
    }
    // The timed outputs' machine never ran: the mount times its own pulses.
    EXPECT_FALSE(rig.core.pulses.anyPulsing());
    EXPECT_FALSE(rig.timer.deadline(GuideAxis::Ra));
    EXPECT_FALSE(rig.timer.deadline(GuideAxis::Dec));
}
