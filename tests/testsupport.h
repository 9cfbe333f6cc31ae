// Helpers shared by the tests: temporary directories and running the
// quorvel executable as a user would.
#pragma once

#include <cstddef>
#include <functional>
#include <QJsonObject>

#include <string>
#include <vector>

// A fresh directory under /tmp, removed with its content at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the built quorvel with these arguments in directory cwd, with extra
// environment entries ("NAME=value"), and waits for it (at most timeoutMs).
RunResult runQuorvel(const std::vector<std::string>& args, const std::string& cwd,
                     const std::vector<std::string>& env = {}, int timeoutMs = 60000);

// The same, sending it `signal` once its standard output holds `marker` (an
// empty marker: 1.5 s after the start).
RunResult runQuorvelAndSignal(const std::vector<std::string>& args, const std::string& cwd,
                              const std::vector<std::string>& env, const std::string& marker, int signal,
                              int timeoutMs = 60000);

// The JSON objects of a command's output, one a line.
std::vector<QJsonObject> jsonLines(const std::string& out);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// Runs f with files limited to `bytes` bytes, as a disk that fills up part
// way through a write: a longer write fails with EFBIG instead of a signal.
void withFileSizeLimit(std::size_t bytes, const std::function<void()>& f);
