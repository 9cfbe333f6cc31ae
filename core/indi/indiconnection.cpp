// The link to the INDI server.
#include "core/indi/indiconnection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "core/indi/indiclient.h"

namespace {

constexpr int kAnswerMs = 500;          // a server that has not answered by then is not there
constexpr int kQuietMs = 250;           // no new device for that long: the list is complete
constexpr int kDeviceListMaxMs = 3000;

int64_t steadyUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// Whether something accepts TCP connections at the address within the time,
// on a socket of our own: the INDI library's connection thread would outlive
// a server that never answers by its own longer timeout.
bool answers(const IndiServerAddress& address, int timeoutMs, std::string& why)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;  // the INDI library connects over IPv4
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(address.port);
    if (const int rc = getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        why = gai_strerror(rc);
        return false;
    }
    const int fd = socket(found->ai_family, found->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = std::strerror(errno);
        freeaddrinfo(found);
        return false;
    }
    int err = 0;
    if (::connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
        err = errno;
        if (err == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            const int n = poll(&p, 1, timeoutMs);
            if (n == 0) {
                err = ETIMEDOUT;
            } else {
                socklen_t len = sizeof err;
                err = 0;
                if (n < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                    err = errno;
            }
        }
    }
    ::close(fd);
    freeaddrinfo(found);
    if (err != 0)
        why = err == ETIMEDOUT ? "no answer within " + std::to_string(timeoutMs) + " ms" : std::strerror(err);
    return err == 0;
}

}  // namespace

bool parseIndiServerAddress(std::string_view text, IndiServerAddress& address, std::string& error)
{
    if (text.empty()) {
        error = "empty server address: expected host:port (\"localhost:7624\")";
        return false;
    }
    IndiServerAddress parsed;
    const size_t colon = text.rfind(':');
    const std::string_view host = colon == std::string_view::npos ? text : text.substr(0, colon);
    if (!host.empty())
        parsed.host = std::string(host);
    if (host.find_first_of(" \t:/") != std::string_view::npos) {
        error = "\"" + std::string(text) + "\": expected host:port (\"localhost:7624\")";
        return false;
    }
    if (colon != std::string_view::npos) {
        const std::string_view port = text.substr(colon + 1);
        int value = 0;
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (port.empty() || ec != std::errc() || end != port.data() + port.size() || value < 1 || value > 65535) {
            error = "\"" + std::string(text) + "\": the port must be a number from 1 to 65535";
            return false;
        }
        parsed.port = value;
    }
    address = parsed;
    return true;
}

IndiConnection::IndiConnection() : client_(std::make_unique<IndiClient>())
{
    if (const char* value = std::getenv(kIndiServerVariable)) {
        std::string why;
        if (!parseIndiServerAddress(value, address_, why))
            addressError_ = std::string(kIndiServerVariable) + "=" + why;
    }
}

IndiConnection::IndiConnection(IndiServerAddress address)
    : address_(std::move(address)), client_(std::make_unique<IndiClient>())
{
}

IndiConnection::~IndiConnection()
{
    client_->close();
}

IndiStatus IndiConnection::connect()
{
    if (!addressError_.empty())
        return IndiStatus::failure(addressError_);
    if (client_->up())
        return {};
    std::string why;
    if (!answers(address_, kAnswerMs, why))
        return IndiStatus::failure("no INDI server at " + address_.text() + ": " + why);
    if (!client_->open(address_.host, address_.port, kAnswerMs))
        return IndiStatus::failure("the INDI server at " + address_.text() + " did not take the connection");

    // The devices answer the library's request for their properties: wait
    // until they have all spoken (a quiet spell), within a bound.
    const int64_t start = steadyUs();
    for (;;) {
        const int64_t now = steadyUs();
        const int64_t last = std::max(client_->lastDefinitionUs(), start);
        if (now - last >= kQuietMs * 1000 || now - start >= kDeviceListMaxMs * 1000 || !client_->up())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!client_->up())
        return IndiStatus::failure("the INDI server at " + address_.text() + " closed the connection");
    return {};
}

bool IndiConnection::connected() const
{
    return client_->up();
}

void IndiConnection::disconnect()
{
    client_->close();
}

std::vector<std::string> IndiConnection::devices(IndiDeviceKind kind) const
{
    const uint16_t mask = kind == IndiDeviceKind::Camera ? INDI::BaseDevice::CCD_INTERFACE
                                                         : INDI::BaseDevice::TELESCOPE_INTERFACE;
    return client_->deviceNames(mask);
}

std::string IndiConnection::deviceUri(const std::string& device) const
{
    return "indi://" + address_.text() + "/" + device;
}
