// Test helpers for the serial line: a pseudo-terminal pair whose slave stands
// in for "COMn" (through QUORVEL_COMn) and whose master side the tests read
// with bounded waits, and a scoped environment variable.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <poll.h>
#include <pty.h>
#include <unistd.h>

class PtyLine {
public:
    PtyLine()
    {
        char name[256] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0)
            path_ = name;
    }
    ~PtyLine()
    {
        closeMaster();
        if (slave_ >= 0)
            close(slave_);
    }
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    int master() const { return master_; }
    // The test's own slave descriptor: reads the line settings back and keeps
    // the pair alive whatever the link does.
    int slave() const { return slave_; }

    // The far end goes away, as an unplugged adapter would.
    void closeMaster()
    {
        if (master_ >= 0)
            close(master_);
        master_ = -1;
    }

    // Reads until `count` bytes have arrived or timeoutMs has passed.
    std::vector<uint8_t> read(size_t count, int timeoutMs = 2000) const
    {
        std::vector<uint8_t> got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0 || !readSome(got, int(left)))
                break;
        }
        return got;
    }

    // Everything that arrives until the line has been quiet for quietMs.
    std::vector<uint8_t> drain(int quietMs = 100) const
    {
        std::vector<uint8_t> got;
        while (readSome(got, quietMs)) {
        }
        return got;
    }

private:
    bool readSome(std::vector<uint8_t>& got, int timeoutMs) const
    {
        pollfd p{master_, POLLIN, 0};
        if (master_ < 0 || poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN))
            return false;
        uint8_t buf[512];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0)
            got.insert(got.end(), buf, buf + n);
        return n > 0;
    }

    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// Sets (or, with nullopt, removes) an environment variable for the life of
// the object, then puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name))
    {
        if (const char* old = std::getenv(name_.c_str()))
            old_ = old;
        set(value);
    }
    ~ScopedEnv() { set(old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void set(const std::optional<std::string>& value)
    {
        if (value)
            setenv(name_.c_str(), value->c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    std::string name_;
    std::optional<std::string> old_;
};

inline std::vector<uint8_t> bytesOf(std::string_view s)
{
    return {s.begin(), s.end()};
}
