// The INDI mount as a guide output.
#include "core/indi/indimount.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <mutex>

#include "core/guide/mountchannel.h"
#include "core/indi/indiclient.h"
#include "core/indi/indiconnection.h"
#include "core/state.h"

namespace {

constexpr auto kDeviceWait = std::chrono::seconds(5);

struct AxisProperties {
    const char* pulse;   // timed guide pulse, ms
    const char* motion;  // motion switch
};

AxisProperties axisProperties(GuideAxis axis)
{
    return axis == GuideAxis::Ra ? AxisProperties{"TELESCOPE_TIMED_GUIDE_WE", "TELESCOPE_MOTION_WE"}
                                 : AxisProperties{"TELESCOPE_TIMED_GUIDE_NS", "TELESCOPE_MOTION_NS"};
}

// The elements of one axis, the first one in the direction given.
struct AxisElements {
    const char* toward;
    const char* away;
};

AxisElements pulseElements(Direction d)
{
    switch (d) {
    case Direction::North: return {"TIMED_GUIDE_N", "TIMED_GUIDE_S"};
    case Direction::South: return {"TIMED_GUIDE_S", "TIMED_GUIDE_N"};
    case Direction::East: return {"TIMED_GUIDE_E", "TIMED_GUIDE_W"};
    case Direction::West: break;
    }
    return {"TIMED_GUIDE_W", "TIMED_GUIDE_E"};
}

AxisElements motionElements(Direction d)
{
    switch (d) {
    case Direction::North: return {"MOTION_NORTH", "MOTION_SOUTH"};
    case Direction::South: return {"MOTION_SOUTH", "MOTION_NORTH"};
    case Direction::East: return {"MOTION_EAST", "MOTION_WEST"};
    case Direction::West: break;
    }
    return {"MOTION_WEST", "MOTION_EAST"};
}

}  // namespace

struct IndiMountOutput::Impl {
    Impl(IndiConnection& c, MountChannel& ch, std::string name)
        : connection(c), client(c.client()), channel(ch), wanted(std::move(name))
    {
    }

    IndiConnection& connection;
    IndiClient& client;
    MountChannel& channel;
    const std::string wanted;

    mutable std::mutex mutex;  // the fields below
    std::string device;
    bool ready = false;
    bool lost = false;       // ready until the server or the device went away
    int listenerId = 0;

    // The program's thread only.
    LinkListener onLink;
    bool lostSaid = false;
    int64_t nextTryUs = 0;

    void listen(const std::string& name)
    {
        if (listenerId)
            client.removeListener(listenerId);
        listenerId = client.addListener(name, [this](const IndiEvent& e) {
            // The server or the driver went away: the mount is connected
            // again when it comes back. One switched off by a client stays so.
            const bool vanished = e.kind == IndiEvent::Kind::ServerLost || e.kind == IndiEvent::Kind::DeviceRemoved;
            bool gone = vanished;
            if ((e.kind == IndiEvent::Kind::Removed || e.kind == IndiEvent::Kind::Updated) &&
                e.property.isNameMatch("CONNECTION")) {
                const auto* on = e.kind == IndiEvent::Kind::Updated && e.property.getType() == INDI_SWITCH
                                     ? e.property.getSwitch()->findWidgetByName("CONNECT")
                                     : nullptr;
                gone = !on || on->getState() != ISS_ON;
            }
            if (gone) {
                std::lock_guard lock(mutex);
                lost = lost || (ready && vanished);
                ready = false;
            }
        });
    }

    // The device to send to, or "" when no mount is ready.
    std::string target() const
    {
        std::lock_guard lock(mutex);
        return ready ? device : std::string();
    }
};

void IndiMountOutput::setLinkListener(LinkListener listener) { impl_->onLink = std::move(listener); }

void IndiMountOutput::reconnectLostMount()
{
    Impl& d = *impl_;
    std::string name;
    {
        std::lock_guard lock(d.mutex);
        if (!d.lost)
            return;
        name = d.device;
    }
    if (!d.lostSaid) {
        d.lostSaid = true;
        if (d.onLink)
            d.onLink(false, "the INDI mount " + name + " was lost: guide pulses reach nothing until it is back");
    }
    const int64_t now = d.channel.state().clock.nowUs();
    if (now < d.nextTryUs)
        return;
    // A server that is down refuses at once; one whose mount does not come
    // holds the guiding up to kDeviceWait, so that try comes back seldom.
    const OutputStatus s = connect();
    const int64_t took = d.channel.state().clock.nowUs() - now;
    d.nextTryUs = d.channel.state().clock.nowUs() + std::max<int64_t>(5'000'000, 10 * took);
    if (!s.ok)
        return;
    {
        std::lock_guard lock(d.mutex);
        d.lost = false;
    }
    d.lostSaid = false;
    if (d.onLink)
        d.onLink(true, "the INDI mount " + mountName() + " is connected again");
}

IndiMountOutput::IndiMountOutput(IndiConnection& connection, MountChannel& channel, std::string deviceName)
{
    if (deviceName.empty())
        if (const char* named = std::getenv(kIndiMountVariable))
            deviceName = named;
    impl_ = std::make_unique<Impl>(connection, channel, std::move(deviceName));
}

IndiMountOutput::~IndiMountOutput()
{
    if (impl_->listenerId)
        impl_->client.removeListener(impl_->listenerId);
}

OutputStatus IndiMountOutput::connect()
{
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.mutex);
        if (d.ready && d.client.up())
            return {};
        d.ready = false;
    }
    if (const IndiStatus s = d.connection.connect(); !s.ok)
        return OutputStatus::failure(s.error);
    const std::string where = d.connection.address().text();

    std::string name = d.wanted;
    {
        std::lock_guard lock(d.mutex);
        d.device = name;
    }
    if (name.empty()) {
        const auto mounts = d.connection.devices(IndiDeviceKind::Mount);
        if (mounts.empty())
            return OutputStatus::failure("no INDI mount on the server at " + where);
        name = mounts.front();
    } else if (!d.client.device(name)) {
        std::string known;
        for (const std::string& m : d.connection.devices(IndiDeviceKind::Mount))
            known += (known.empty() ? "" : ", ") + ("\"" + m + "\"");
        return OutputStatus::failure("no INDI device \"" + name + "\" on the server at " + where +
                                     (known.empty() ? std::string(" (no mount there)") : " (mounts: " + known + ")"));
    }
    {
        std::lock_guard lock(d.mutex);
        d.device = name;
    }
    d.listen(name);

    d.client.sendSwitches(name, "CONNECTION", {{"CONNECT", true}, {"DISCONNECT", false}});
    bool refused = false;
    const bool connected = d.client.waitFor(
        [&](const std::map<std::string, IndiClient::DeviceInfo>& devices) {
            const auto it = devices.find(name);
            if (it == devices.end())
                return false;
            refused = it->second.connectionAlert;
            return refused || (it->second.connected && it->second.properties.count("TELESCOPE_TIMED_GUIDE_NS") > 0 &&
                               it->second.properties.count("TELESCOPE_TIMED_GUIDE_WE") > 0);
        },
        kDeviceWait);
    if (!connected || refused) {
        if (!d.client.up())
            return OutputStatus::failure("the INDI server at " + where + " went away");
        if (refused)
            return OutputStatus::failure(name + ": the mount refused the connection");
        const auto info = d.client.device(name);
        if (info && info->connected)
            return OutputStatus::failure(name + ": the mount takes no guide pulses (no TELESCOPE_TIMED_GUIDE_NS/WE)");
        return OutputStatus::failure(name + ": the mount did not connect within 5 s");
    }
    std::lock_guard lock(d.mutex);
    d.ready = true;
    d.lost = false;
    return {};
}

bool IndiMountOutput::ready() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->ready;
}

std::string IndiMountOutput::mountName() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->device;
}

std::optional<SentPulse> IndiMountOutput::pulse(const AxisPulse& p)
{
    if (!p.timed)
        return std::nullopt;
    SentPulse sent;
    sent.axis = p.axis;
    sent.direction = pulseDirection(p.axis, p.lengthMs);
    sent.length = p.lengthMs == INT_MIN ? INT_MAX : std::abs(p.lengthMs);
    // The mount times the pulse from our request on.
    sent.startUs = impl_->channel.state().clock.nowUs();
    sent.endUs = sent.startUs + int64_t(sent.length) * 1000;
    if (sent.length == 0)
        return sent;
    impl_->channel.timedPulse(sent.direction, sent.length);
    reconnectLostMount();
    const std::string device = impl_->target();
    if (!device.empty()) {
        const AxisElements e = pulseElements(sent.direction);
        impl_->client.sendNumbers(device, axisProperties(p.axis).pulse,
                                  {{e.toward, double(sent.length)}, {e.away, 0.0}});
    }
    return sent;
}

void IndiMountOutput::slew(const SlewCommand& s)
{
    const Direction direction = slewButtonDirection(s.button);
    const GuideAxis axis = axisOf(direction);
    impl_->channel.motion(axis, s.held, direction);
    reconnectLostMount();
    const std::string device = impl_->target();
    if (device.empty())
        return;
    const AxisElements e = motionElements(direction);
    impl_->client.sendSwitches(device, axisProperties(axis).motion, {{e.toward, s.held}, {e.away, false}});
}
