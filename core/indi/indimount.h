// The INDI mount as a guide output (interfaceType 4, "INDI (monture)"): a
// correction's pulses and the arrow keys become the mount's own timed guide
// pulses (TELESCOPE_TIMED_GUIDE_WE / _NS, in milliseconds), the slew buttons
// its motion switches (TELESCOPE_MOTION_WE / _NS) on while held. Each command
// is announced on the MountChannel first, as on every output, so the
// simulated sky, the guide log and the event server see it; the directions
// come from signs.h. With no mount connected the commands are announced and
// go no further. A mount lost with its server (or disconnected) is connected
// again by the commands that follow, at most once every few seconds, and
// its link listener hears both.
//
// Threads: called from the program's thread; a pulse or slew is one short
// write on the socket and never waits for the mount.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "core/guide/guideoutput.h"

class IndiConnection;
class MountChannel;

class IndiMountOutput : public GuideOutput {
public:
    // deviceName: the mount to use; empty for the one QUORVEL_INDI_MOUNT
    // names, or when unset the first device with the telescope interface.
    // The connection must outlive the output.
    IndiMountOutput(IndiConnection& connection, MountChannel& channel, std::string deviceName = {});
    ~IndiMountOutput() override;

    // Connects the server if needed, finds the mount and connects it; waits
    // at most a few seconds for the device. The failure says what is missing
    // ("no INDI mount on the server at localhost:7624").
    OutputStatus connect();
    OutputStatus open() override { return connect(); }
    // Connected and not lost since.
    bool ready() const override;
    // The device in use or last tried ("" before connect()).
    std::string mountName() const;

    // Told, on the program's thread, when a command finds the mount lost (up
    // false, with what happened) and when a later one connects it again.
    using LinkListener = std::function<void(bool up, const std::string& message)>;
    void setLinkListener(LinkListener listener);

    std::optional<SentPulse> pulse(const AxisPulse& p) override;
    void slew(const SlewCommand& s) override;

    struct Impl;

private:
    void reconnectLostMount();

    std::unique_ptr<Impl> impl_;
};
