// The link to an INDI server: one per program, shared by the INDI cameras
// (indicamera.h) and the INDI mount (indimount.h). It connects on demand and
// gives up within half a second when no server answers, so a machine without
// INDI pays nothing for it: no wait worth the name, no thread left running.
// Once connected, INDI's client library keeps one thread of its own that
// receives the server's messages; everything here may be called from one
// other thread (the program's), and never waits on the network for long.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Where the server listens: QUORVEL_INDI = "host:port" ("localhost:7624"
// when unset).
inline constexpr const char* kIndiServerVariable = "QUORVEL_INDI";
// The mount to guide: the INDI device named by QUORVEL_INDI_MOUNT, else the
// first device with the telescope interface.
inline constexpr const char* kIndiMountVariable = "QUORVEL_INDI_MOUNT";
inline constexpr int kIndiDefaultPort = 7624;

struct IndiServerAddress {
    std::string host = "localhost";
    int port = kIndiDefaultPort;
    std::string text() const { return host + ":" + std::to_string(port); }
};

// "host:port", "host" (port 7624) or ":port" (localhost). False with a
// message naming the fault when the text is none of these.
bool parseIndiServerAddress(std::string_view text, IndiServerAddress& address, std::string& error);

struct IndiStatus {
    bool ok = true;
    std::string error;  // in English, with the server or device named
    static IndiStatus failure(std::string why) { return {false, std::move(why)}; }
};

enum class IndiDeviceKind {
    Camera,  // the CCD interface
    Mount,   // the telescope interface
};

class IndiClient;

class IndiConnection {
public:
    // The server QUORVEL_INDI names; a malformed value makes connect() fail
    // with its message.
    IndiConnection();
    explicit IndiConnection(IndiServerAddress address);
    // Disconnects. Every camera and mount made on the connection must be
    // gone before it.
    ~IndiConnection();
    IndiConnection(const IndiConnection&) = delete;
    IndiConnection& operator=(const IndiConnection&) = delete;

    const IndiServerAddress& address() const { return address_; }

    // Connects to the server unless connected, then waits for its devices to
    // announce themselves (until a quarter of a second passes with no new
    // one, at most three seconds). No server answering within half a second
    // is a failure, not a wait. After the server went away, connects again.
    IndiStatus connect();
    bool connected() const;
    void disconnect();

    // The devices of that kind on the server, in the order they appeared.
    std::vector<std::string> devices(IndiDeviceKind kind) const;
    // "indi://localhost:7624/CCD Simulator"
    std::string deviceUri(const std::string& device) const;

    // For the INDI cameras and mount.
    IndiClient& client() { return *client_; }

private:
    IndiServerAddress address_;
    std::string addressError_;
    std::unique_ptr<IndiClient> client_;
};
