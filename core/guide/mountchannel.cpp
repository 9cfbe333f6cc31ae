// The channel of every command to the mount.
#include "core/guide/mountchannel.h"

#include <algorithm>

#include "core/serial/serialline.h"
#include "core/state.h"

MountChannel::MountChannel(SharedState& state, SerialLine& line) : state_(state), line_(line)
{
    // A move started before the line went away may never have heard its
    // stop: a line that comes back first stops both axes of an LX 200 or
    // ETX, on the line alone (the guiding issued no such command).
    lineListener_ = line_.addLineListener([this](const SerialLine::LineChange& change) {
        const int32_t type = interfaceType();
        if (!change.up || (type != Lx200 && type != MeadeEtx))
            return;
        for (const MountOp op : {MountOp::StopRa, MountOp::StopDec})
            for (std::string_view s : mountStrings(op, type))
                line_.sendText(s);
    });
}

MountChannel::~MountChannel() { line_.removeLineListener(lineListener_); }

int MountChannel::addObserver(MountObserver observer)
{
    observers_.push_back({nextId_, std::move(observer)});
    return nextId_++;
}

void MountChannel::removeObserver(int id)
{
    std::erase_if(observers_, [id](const Entry& e) { return e.id == id; });
}

void MountChannel::publish(MountEvent event)
{
    event.timeUs = state_.clock.nowUs();
    // A copy: an observer may add or remove observers while it runs.
    const std::vector<Entry> current = observers_;
    for (const Entry& e : current)
        e.observer(event);
}

void MountChannel::sendText(std::string_view text)
{
    MountEvent e;
    e.kind = MountEvent::Kind::Text;
    e.text = text;
    publish(e);
    line_.sendText(text);
}

void MountChannel::sendRelayByte(uint8_t byte)
{
    MountEvent e;
    e.kind = MountEvent::Kind::RelayByte;
    e.byte = byte;
    publish(e);
    line_.WritePortByte(line_.comBase, byte);
}

int32_t MountChannel::interfaceType() const
{
    return state_.params ? state_.params->interfaceType : int32_t(RelayBox);
}

void MountChannel::runMountOp(MountOp op) { runMountOp(op, interfaceType()); }

void MountChannel::runMountOp(MountOp op, int32_t type)
{
    for (std::string_view s : mountStrings(op, type))
        sendText(s);
}

void MountChannel::axisEvent(MountEvent::Kind kind, GuideAxis axis, bool on, Direction direction)
{
    MountEvent e;
    e.kind = kind;
    e.axis = axis;
    e.on = on;
    e.direction = direction;
    publish(e);
}

void MountChannel::lamp(GuideAxis axis, bool on, Direction direction)
{
    axisEvent(MountEvent::Kind::Lamp, axis, on, direction);
}

void MountChannel::timedPulse(Direction direction, int lengthMs)
{
    MountEvent e;
    e.kind = MountEvent::Kind::TimedPulse;
    e.axis = axisOf(direction);
    e.direction = direction;
    e.lengthMs = lengthMs;
    publish(e);
}

void MountChannel::motion(GuideAxis axis, bool on, Direction direction)
{
    axisEvent(MountEvent::Kind::Motion, axis, on, direction);
}

void MountChannel::pauseMs(int ms)
{
    state_.clock.pauseMs(ms);
}
