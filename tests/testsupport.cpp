// Helpers shared by the tests.
#include "testsupport.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <sys/resource.h>

#include <csignal>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempDir::TempDir()
{
    char pattern[] = "/tmp/quorvel-test-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

namespace {

// Starts the built quorvel in cwd with the offscreen platform and these extra
// environment entries ("NAME=value").
bool startQuorvel(QProcess& p, const std::vector<std::string>& args, const std::string& cwd,
                  const std::vector<std::string>& env)
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert("QT_QPA_PLATFORM", "offscreen");
    for (const auto& kv : env) {
        const auto eq = kv.find('=');
        e.insert(QString::fromStdString(kv.substr(0, eq)), QString::fromStdString(kv.substr(eq + 1)));
    }
    p.setProcessEnvironment(e);
    p.setWorkingDirectory(QString::fromStdString(cwd));
    QStringList a;
    for (const auto& s : args)
        a << QString::fromStdString(s);
    p.start(QStringLiteral(QUORVEL_BIN), a);
    return p.waitForStarted(10000);
}

// What a finished run left; a run still going after the wait is killed.
RunResult finishRun(QProcess& p, int timeoutMs, RunResult r = {})
{
    // waitForFinished() is false for a process already finished.
    if (p.state() != QProcess::NotRunning && !p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        r.err = "timeout";
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out += p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

}  // namespace

RunResult runQuorvel(const std::vector<std::string>& args, const std::string& cwd,
                     const std::vector<std::string>& env, int timeoutMs)
{
    QProcess p;
    if (!startQuorvel(p, args, cwd, env))
        return {};
    return finishRun(p, timeoutMs);
}

RunResult runQuorvelAndSignal(const std::vector<std::string>& args, const std::string& cwd,
                              const std::vector<std::string>& env, const std::string& marker, int signal,
                              int timeoutMs)
{
    QProcess p;
    if (!startQuorvel(p, args, cwd, env))
        return {};
    RunResult r;
    QElapsedTimer waited;
    waited.start();
    bool signalled = false;
    while (p.state() != QProcess::NotRunning && waited.elapsed() < timeoutMs) {
        p.waitForReadyRead(50);
        r.out += p.readAllStandardOutput().toStdString();
        const bool due = marker.empty() ? waited.elapsed() > 1500 : r.out.find(marker) != std::string::npos;
        if (!signalled && due) {
            ::kill(pid_t(p.processId()), signal);
            signalled = true;
        }
    }
    return finishRun(p, 2000, r);
}

std::vector<QJsonObject> jsonLines(const std::string& out)
{
    std::vector<QJsonObject> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
    return lines;
}

std::string readFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), std::streamsize(bytes.size()));
}

void withFileSizeLimit(std::size_t bytes, const std::function<void()>& f)
{
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &small);
    f();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
}
