// Counting pulses where the mount receives them.
#include "bench/night/wire.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "core/guide/relaybox.h"

// ---- Relay box -----------------------------------------------------------

void RelayWire::feed(uint8_t byte)
{
    if (!pending_) {
        pending_ = byte;
        return;
    }
    const RelayCommand c = decodeRelayByte(*pending_);
    if (byte != relayClosingByte(c.code))
        ++bad_;
    if (c.count > 0)
        ++pulses_;
    else
        ++zero_;
    pending_.reset();
}

// ---- LX 200 and ETX strings --------------------------------------------

namespace {

std::optional<Direction> directionOf(char c)
{
    switch (c) {
    case 'n': return Direction::North;
    case 's': return Direction::South;
    case 'e': return Direction::East;
    case 'w': return Direction::West;
    default: return std::nullopt;
    }
}

int slotOf(Direction d) { return axisOf(d) == GuideAxis::Ra ? 0 : 1; }

}  // namespace

void MountStringWire::feed(char c)
{
    if (text_.empty() && c != '#') {
        ++unknown_;  // a byte outside any string
        return;
    }
    text_ += c;
    // "#:XX#": the opening '#', ':', the body, the closing '#'.
    if (c == '#' && text_.size() > 1) {
        if (text_.size() < 3 || text_[1] != ':')
            ++unknown_;
        else
            command(text_.substr(2, text_.size() - 3));
        text_.clear();
    } else if (text_.size() > 16) {
        ++unknown_;
        text_.clear();
    }
}

void MountStringWire::command(const std::string& body)
{
    if (body == "RG") {
        ++rates_;
        return;
    }
    if (body == "Q") {
        interrupted_ = moving_;
        moving_ = {};
        return;
    }
    const auto d = body.size() == 2 ? directionOf(body[1]) : std::nullopt;
    if (!d || (body[0] != 'M' && body[0] != 'Q')) {
        ++unknown_;
        return;
    }
    const int axis = slotOf(*d);
    if (body[0] == 'Q') {
        moving_[size_t(axis)].reset();
        return;
    }
    if (interrupted_[size_t(axis)] == d) {
        ++restarts_;
        interrupted_[size_t(axis)].reset();
    } else {
        ++pulses_;
        interrupted_ = {};
    }
    moving_[size_t(axis)] = d;
}

// ---- Pseudo-terminal -----------------------------------------------------

PtyWire::PtyWire()
{
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        master_ = slave_ = -1;
        return;
    }
    path_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyWire::~PtyWire()
{
    if (master_ >= 0)
        close(master_);
    if (slave_ >= 0)
        close(slave_);
}

long PtyWire::readSome(uint8_t* buf, size_t size, int waitMs)
{
    if (master_ < 0)
        return 0;
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0 || !(p.revents & POLLIN))
        return 0;
    const ssize_t n = ::read(master_, buf, size);
    return n > 0 ? long(n) : 0;
}

// ---- INDI ----------------------------------------------------------------

namespace {

sockaddr_in loopbackAddress(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    return a;
}

int listenLoopback(int& port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a = loopbackAddress(0);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

int connectLoopback(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a = loopbackAddress(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool writeAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w <= 0)
            return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

}  // namespace

IndiPulseTap::IndiPulseTap(int serverPort) : serverPort_(serverPort)
{
    listen_ = listenLoopback(port_);
    if (listen_ < 0 || pipe2(wake_, O_CLOEXEC) != 0) {
        if (listen_ >= 0)
            close(listen_);
        listen_ = -1;
        return;
    }
    thread_ = std::thread([this] { run(); });
}

IndiPulseTap::~IndiPulseTap()
{
    if (thread_.joinable()) {
        const char c = 0;
        (void)!::write(wake_[1], &c, 1);
        thread_.join();
    }
    for (int fd : {listen_, wake_[0], wake_[1]})
        if (fd >= 0)
            close(fd);
}

void IndiPulseTap::settle(int quietMs)
{
    int64_t seen = -1;
    while (bytesUp_.load() != seen) {
        seen = bytesUp_.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(quietMs));
    }
}

void IndiPulseTap::run()
{
    int guider = -1, server = -1;
    auto hangUp = [&] {
        for (int* fd : {&guider, &server})
            if (*fd >= 0) {
                close(*fd);
                *fd = -1;
            }
        up_.clear();
    };
    for (;;) {
        pollfd p[3] = {{wake_[0], POLLIN, 0}, {guider >= 0 ? guider : listen_, POLLIN, 0}, {server, POLLIN, 0}};
        if (poll(p, server >= 0 ? 3 : 2, -1) < 0)
            continue;
        if (p[0].revents)
            break;
        if (guider < 0) {
            if (p[1].revents & POLLIN) {
                guider = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
                server = guider >= 0 ? connectLoopback(serverPort_) : -1;
                if (server < 0)
                    hangUp();
            }
            continue;
        }
        char buf[8192];
        if (p[1].revents) {
            const ssize_t n = ::read(guider, buf, sizeof buf);
            if (n <= 0 || !writeAll(server, buf, size_t(n))) {
                hangUp();
                continue;
            }
            scanUp(buf, size_t(n));
            bytesUp_ += n;
        }
        if (server >= 0 && p[2].revents) {
            const ssize_t n = ::read(server, buf, sizeof buf);
            if (n <= 0 || !writeAll(guider, buf, size_t(n)))
                hangUp();
        }
    }
    hangUp();
}

void IndiPulseTap::scanUp(const char* data, size_t n)
{
    up_.append(data, n);
    // Whole newNumberVector elements only; the rest waits for more.
    size_t at = 0;
    for (;;) {
        const size_t open = up_.find("<newNumberVector", at);
        if (open == std::string::npos) {
            // Keep a tail that could be the start of the tag.
            at = up_.size() > 16 ? up_.size() - 16 : 0;
            break;
        }
        const size_t close = up_.find("</newNumberVector>", open);
        if (close == std::string::npos) {
            at = open;
            break;
        }
        const std::string element = up_.substr(open, close - open);
        if (element.find("TELESCOPE_TIMED_GUIDE_") != std::string::npos) {
            // One pulse: an element with a length above zero.
            bool moved = false;
            for (size_t v = element.find("<oneNumber"); v != std::string::npos; v = element.find("<oneNumber", v + 1)) {
                const size_t gt = element.find('>', v);
                if (gt != std::string::npos && std::strtod(element.c_str() + gt + 1, nullptr) > 0)
                    moved = true;
            }
            if (moved)
                ++pulses_;
        }
        at = close + 18;
    }
    up_.erase(0, at);
}

IndiServerProcess::IndiServerProcess(const std::string& workDir)
{
    // A free port, taken back at once for the server.
    int port = 0;
    const int probe = listenLoopback(port);
    if (probe < 0) {
        why_ = "no free loopback port";
        return;
    }
    close(probe);
    const std::string home = workDir + "/indi-home";
    mkdir(home.c_str(), 0700);
    const std::string log = workDir + "/indiserver.log";
    const std::string portText = std::to_string(port);
    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);  // a night cut short leaves no server behind
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        setenv("HOME", home.c_str(), 1);
        // A local socket of its own: another server's may be at the default path.
        const std::string local = workDir + "/indiserver.sock";
        execlp("indiserver", "indiserver", "-p", portText.c_str(), "-u", local.c_str(), "indi_simulator_telescope",
               nullptr);
        _exit(127);
    }
    if (pid_ < 0) {
        why_ = std::string("fork: ") + std::strerror(errno);
        return;
    }
    setpgid(pid_, pid_);
    // Up when its port answers (the driver comes a moment later; the
    // mount's connection waits for it).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            why_ = WIFEXITED(status) && WEXITSTATUS(status) == 127 ? "indiserver is not installed"
                                                                   : "indiserver ended at once (see " + log + ")";
            return;
        }
        const int fd = connectLoopback(port);
        if (fd >= 0) {
            close(fd);
            port_ = port;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    why_ = "indiserver did not answer on port " + portText + " within 10 s";
}

IndiServerProcess::~IndiServerProcess()
{
    if (pid_ <= 0)
        return;
    kill(-pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (waitpid(pid_, &status, WNOHANG) == 0) {
        kill(-pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
}
