// The INDI client behind IndiConnection: Debian's INDI::BaseClient, with a
// copy of what the cameras and the mount ask about each device (interfaces,
// connection, properties defined) that any thread may read, listeners that
// see each device's messages, and one lock for sending so that messages from
// two threads never interleave on the socket. Only the core/indi files
// include it.
//
// Threads: the override callbacks and the listeners run on INDI's thread,
// the one that reads the socket; the rest is called from the program's
// thread. The INDI::BaseDevice objects the library keeps are touched on
// INDI's thread only; the program's thread sends properties of its own.
#pragma once

#include <libindi/baseclient.h>
#include <libindi/basedevice.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct IndiEvent {
    enum class Kind {
        Defined,        // the property appeared (property)
        Updated,        // new values (property); a camera's frames come so
        Removed,        // the property went (property)
        DeviceRemoved,  // the device left the server
        ServerLost,     // the server went away (every listener hears it)
    };
    Kind kind = Kind::Updated;
    INDI::Property property;
    std::string device;
};

class IndiClient : public INDI::BaseClient {
public:
    IndiClient() = default;
    ~IndiClient() override;

    // What the program's thread may read about a device.
    struct DeviceInfo {
        int order = 0;                    // announcement order
        uint16_t interfaces = 0;          // INDI::BaseDevice::DRIVER_INTERFACE bits
        bool connected = false;           // CONNECTION: CONNECT on and Ok
        bool connectionAlert = false;     // CONNECTION in the Alert state
        bool blobs = false;               // BLOB reception on for it
        std::set<std::string> properties; // names defined now
        // Of each switch property defined now, the element on ("" for none).
        std::map<std::string, std::string> switchOn;
    };

    // Connects to host:port within timeoutMs; false when the library could
    // not. Clears what a previous connection left.
    bool open(const std::string& host, int port, int timeoutMs);
    void close();
    bool up() const;

    // Listeners of one device (and of the server's loss), called on INDI's
    // thread in the order added. Once removeListener returns, the listener
    // is not running and never runs again.
    using Listener = std::function<void(const IndiEvent&)>;
    int addListener(const std::string& device, Listener listener);
    void removeListener(int id);

    std::optional<DeviceInfo> device(const std::string& name) const;
    std::vector<std::string> deviceNames(uint16_t interfaceMask) const;
    // Microseconds of the steady clock when the last device or property
    // appeared (0: none since the connection).
    int64_t lastDefinitionUs() const;

    // Waits until pred holds on the devices' copy or limit passes; pred runs
    // under the copy's lock and must call nothing of this class. True when
    // it held.
    bool waitFor(const std::function<bool(const std::map<std::string, DeviceInfo>&)>& pred,
                 std::chrono::milliseconds limit);

    // BLOB reception for one BLOB property of a device on or off (a camera's
    // main chip, not its guide head's). The library keeps its BLOB modes
    // unguarded on INDI's thread, so the change is made there, at the next
    // ping reply (asked for here) or message of the device.
    void wantBlobs(const std::string& device, const std::string& property, bool on);
    bool blobsEnabled(const std::string& device) const;

    // Sends new values of a number or switch property built here (elements
    // not named keep their values on the device; a one-of-many switch turns
    // off the others itself). Safe from any thread; nothing when down.
    void sendNumbers(const std::string& device, const std::string& property,
                     const std::vector<std::pair<std::string, double>>& values);
    void sendSwitches(const std::string& device, const std::string& property,
                      const std::vector<std::pair<std::string, bool>>& states);

protected:
    void newDevice(INDI::BaseDevice device) override;
    void removeDevice(INDI::BaseDevice device) override;
    void newProperty(INDI::Property property) override;
    void updateProperty(INDI::Property property) override;
    void removeProperty(INDI::Property property) override;
    void serverDisconnected(int exitCode) override;
    void newPingReply(std::string uid) override;

private:
    void note(const INDI::Property& property, bool defined);
    void dispatch(const IndiEvent& event);
    void applyBlobModes();

    mutable std::mutex mutex_;  // the device copy, BLOB wishes, up_
    std::condition_variable changed_;
    std::map<std::string, DeviceInfo> devices_;
    int nextOrder_ = 0;
    int64_t lastDefinitionUs_ = 0;
    bool up_ = false;
    struct BlobWish {
        std::string property;
        bool on = false;
    };
    std::map<std::string, BlobWish> blobWanted_;  // by device

    std::mutex listenersMutex_;
    struct Entry {
        int id;
        std::string device;
        Listener listener;
    };
    std::vector<Entry> listeners_;
    int nextListener_ = 1;

    std::mutex sendMutex_;
};
