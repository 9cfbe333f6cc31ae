// The guide log in PHD2's format.
#include "core/log/guidelog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/guide/correction.h"
#include "core/guide/signs.h"
#include "core/log/guidestep.h"
#include "core/log/runstats.h"
#include "core/session.h"
#include "core/state.h"

namespace {

constexpr const char* kFirstLine = "Quorvel version 1.85, Log version 2.5. Log enabled at ";
constexpr const char* kColumns =
    "Frame,Time,mount,dx,dy,RARawDistance,DECRawDistance,RAGuideDistance,DECGuideDistance,"
    "RADuration,RADirection,DECDuration,DECDirection,XStep,YStep,StarMass,SNR,ErrorCode";

__attribute__((format(printf, 1, 2))) std::string formatted(const char* fmt, ...)
                                                            {
    char buf[512];
    va_list args;
    va_start(args, fmt);
    const int n = std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    return std::string(buf, n < 0 ? 0 : std::min<std::size_t>(std::size_t(n), sizeof buf - 1));
}

}  // namespace

WallClock localWallClock()
{
    return [] {
        const std::time_t t = std::time(nullptr);
        std::tm tm{};
        localtime_r(&t, &tm);
        return tm;
    };
}

std::string interfaceName(int32_t interfaceType)
{
    if (interfaceType >= 0 && interfaceType < int32_t(kInterfaceNames.size()))
        return kInterfaceNames[size_t(interfaceType)];
    return "Interface " + std::to_string(interfaceType);
}

std::unique_ptr<GuideLog> GuideLog::openFor(const std::string& path, GuidingSession& session, SharedState& state,
                                            std::string& error)
{
    std::unique_ptr<GuideLog> log = open(path, localWallClock(), error);
    if (log)
        log->attach(session, state);
    return log;
}

std::unique_ptr<GuideLog> GuideLog::open(const std::string& path, WallClock wallClock, std::string& error)
{
    // Never waits: a FIFO without a reader fails at once instead of holding
    // up the guider; one with a reader is refused below (a reader that goes
    // away would kill us with SIGPIPE).
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd < 0) {
        error = "cannot open the guide log " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISCHR(st.st_mode))) {
        ::close(fd);
        error = "cannot open the guide log " + path + ": not a regular file";
        return nullptr;
    }
    std::unique_ptr<GuideLog> log(new GuideLog(fd, path, std::move(wallClock), S_ISREG(st.st_mode) ? st.st_size : 0));
    log->writeLine(kFirstLine + log->now(), Keep::UntilWritten);
    error.clear();
    return log;
}

GuideLog::GuideLog(int fd, std::string path, WallClock wallClock, int64_t size)
    : fd_(fd), path_(std::move(path)), wallClock_(std::move(wallClock)), wholeSize_(size)
{
}

GuideLog::~GuideLog() { close(); }

void GuideLog::attach(GuidingSession& session, SharedState& state)
{
    if (fd_ < 0)
        return;
    detach();
    session_ = &session;
    state_ = &state;
    listener_ = session.addListener([this](const SessionEvent& e) { onEvent(e); });
    if (state.trackingOn) {
        beginPeriod();
        writeLockPosition();
    }
}

void GuideLog::detach()
{
    // No row can come any more: the period ends here.
    if (inPeriod_)
        endPeriod();
    if (session_)
        session_->removeListener(listener_);
    session_ = nullptr;
    state_ = nullptr;
}

void GuideLog::dither(double dx, double dy)
{
    if (!inPeriod_ || !state_)
        return;
    writeLine(formatted("INFO: DITHER by %.3f, %.3f, new lock pos = %.3f, %.3f", dx, dy, lockX(), lockY()));
}

void GuideLog::calibration(const std::vector<std::string>& lines)
{
    if (inPeriod_)
        endPeriod();
    writeBlank();
    for (const std::string& line : lines)
        writeLine(line);
    writeBlank();
}

void GuideLog::settling(Settling change)
{
    if (!inPeriod_) {
        settlingAnnounced_ = change == Settling::Started;
        return;
    }
    if (change != Settling::Started)
        openingSettling_ = false;  // one settling at a time: whatever ends now ends the opening one too
    writeSettling(change);
}

void GuideLog::writeSettling(Settling change)
{
    const char* what = change == Settling::Started    ? "Settling started"
                       : change == Settling::Complete ? "Settling complete"
                                                      : "Settling failed";
    writeLine(std::string("INFO: SETTLING STATE CHANGE, ") + what, Keep::UntilWritten);
}

void GuideLog::close()
{
    if (fd_ < 0)
        return;
    detach();
    writeBlank();
    writeLine("Log closed at " + now());
    ::close(fd_);
    fd_ = -1;
}

void GuideLog::onEvent(const SessionEvent& e)
{
    using Kind = SessionEvent::Kind;
    switch (e.kind) {
    case Kind::Started:
        // A new lock: a new section, even if the last one was still open.
        if (inPeriod_)
            endPeriod();
        beginPeriod();
        writeLockPosition();
        if (openingSettleSec_ > 0) {
            openingSettling_ = true;
            lockCycleUs_ = session_->lastCycle().timeUs;
            if (!settlingAnnounced_)
                writeSettling(Settling::Started);
        }
        if (settlingAnnounced_) {
            settlingAnnounced_ = false;
            writeSettling(Settling::Started);
        }
        break;
    case Kind::Resumed:
        if (inPeriod_) {
            writeLine("INFO: Guiding resumed", Keep::UntilWritten);
        } else {
            beginPeriod();
            writeLockPosition();
        }
        break;
    case Kind::Suspended:
        if (inPeriod_)
            writeLine("INFO: Guiding paused", Keep::UntilWritten);
        break;
    case Kind::Stopped:
        if (inPeriod_)
            endPeriod();
        break;
    case Kind::LockMoved:
        if (inPeriod_)
            writeLockPosition();
        break;
    case Kind::RegionMoved:
        break;
    case Kind::Cycle:
        if (!e.cycle || !e.cycle->tracking)
            break;
        if (!inPeriod_) {  // tracking switched on without telling us: lose no row
            beginPeriod();
            writeLockPosition();
        }
        if (openingSettling_ && double(e.cycle->timeUs - lockCycleUs_) / 1e6 >= openingSettleSec_) {
            openingSettling_ = false;
            writeSettling(Settling::Complete);
        }
        writeRow(*e.cycle);
        break;
    }
}

void GuideLog::beginPeriod()
{
    const int64_t startUs = state_->clock.nowUs();  // before the header lines: times count from the event
    const tparam& p = *state_->params;
    const float scale = usablePixelScale(p);
    // Guide speed over the image scale: pixels per second (0 when unknown).
    auto rate = [&](double arcsecPerSec) {
        const double r = scale > 0 ? arcsecPerSec / double(scale) : 0.0;
        return std::isfinite(r) && r > 0 ? r : 0.0;
    };
    const double focalMm = p.focalLength * 10.0;
    const int focal = std::isfinite(focalMm) && std::abs(focalMm) < 1e9 ? int(std::lround(focalMm)) : 0;

    writeBlank();
    const std::size_t before = backlog_.size();
    writeLine("Guiding Begins at " + now(), Keep::UntilWritten);
    if (backlog_.size() > before)
        unwrittenHeaderAt_ = before;
    writeLine(formatted("Pixel scale = %.2f arc-sec/px, Binning = 1, Focal length = %d mm",
                        double(scale), focal),
              Keep::UntilWritten);
    // The viewer counts rows as guided only with "guiding enabled"; the
    // angles say where the mount's axes lie in the picture, as the rows'
    // RA and DEC distances are reckoned.
    const MountAxes axes = mountAxes_ ? *mountAxes_
                                      : MountAxes{axisAngleDegrees(GuideAxis::Ra, p.invertRa != 0), rate(p.raSpeed),
                                                  axisAngleDegrees(GuideAxis::Dec, p.invertDec != 0), rate(p.decSpeed)};
    writeLine(formatted("Mount = %s, connected, guiding %s, xAngle = %.1f, xRate = %.3f, yAngle = %.1f, yRate = %.3f",
                        interfaceName(p.interfaceType).c_str(),
                        session_ && !session_->sendsCorrections ? "disabled" : "enabled", axes.xAngle, axes.xRate,
                        axes.yAngle, axes.yRate),
              Keep::UntilWritten);
    writeLine(kColumns, Keep::UntilWritten);
    inPeriod_ = true;
    periodStartUs_ = startUs;
    frame_ = 0;
}

void GuideLog::endPeriod()
{
    if (unwrittenHeaderAt_ != std::string::npos) {
        // Nothing of this section reached the file: it is left out whole.
        backlog_.resize(unwrittenHeaderAt_);
        unwrittenHeaderAt_ = std::string::npos;
        lastLineBlank_ = true;  // the blank line before the header is still the last one
    } else {
        writeLine("Guiding Ends at " + now(), Keep::UntilWritten);
        writeLine("", Keep::UntilWritten);
    }
    inPeriod_ = false;
    openingSettling_ = false;
}

void GuideLog::writeLockPosition()
{
    writeLine(formatted("INFO: SET LOCK POSITION, new lock pos = %.3f, %.3f", lockX(), lockY()));
}

double GuideLog::lockX() const { return session_ ? session_->lockX() : double(state_->referenceX); }
double GuideLog::lockY() const { return session_ ? session_->lockY() : double(state_->referenceY); }

void GuideLog::writeRow(const CycleResult& c)
{
    ++frame_;
    const double t = double(c.timeUs - periodStartUs_) / 1e6;
    const GuideStepFigures f = guideStepFigures(c, *state_->params);
    if (f.dropped) {
        // Star mass 0 with an error code: the viewer leaves the frame out.
        writeLine(formatted("%d,%.3f,\"DROP\",,,,,,,,,,,,,0,0.00,2,\"Star lost\"", frame_, t));
        return;
    }
    const char raDir[2] = {f.raDirection ? directionLetter(*f.raDirection) : char(0), 0};
    const char decDir[2] = {f.decDirection ? directionLetter(*f.decDirection) : char(0), 0};
    writeLine(formatted("%d,%.3f,\"Mount\",%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%d,%s,%d,%s,,,%.0f,%.2f,0", frame_, t, f.dx,
                        f.dy, f.raDistance, f.decDistance, f.raGuideDistance, f.decGuideDistance, f.raMs, raDir,
                        f.decMs, decDir, f.starMass, f.snr));
}

void GuideLog::writeBlank()
{
    if (!lastLineBlank_)
        writeLine("", Keep::UntilWritten);
}

void GuideLog::setWritingListener(WritingListener listener)
{
    onWriting_ = std::move(listener);
    if (!writing_ && onWriting_)
        onWriting_(false, writeError_);
}

bool GuideLog::writeWhole(const std::string& text, int& cause)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
        if (n > 0) {
            done += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // Full disk, size limit, I/O error: whatever part went in is cut
        // off again, so that the next line starts a line of its own.
        cause = n < 0 ? errno : ENOSPC;
        if (done > 0) {
            [[maybe_unused]] const int r = ::ftruncate(fd_, off_t(wholeSize_));
        }
        return false;
    }
    wholeSize_ += int64_t(done);
    return true;
}

void GuideLog::writeLine(std::string line, Keep keep)
{
    if (fd_ < 0)
        return;
    lastLineBlank_ = line.empty();
    line += '\n';
    int cause = 0;
    // The lines kept from an outage go first, in their order.
    if (!backlog_.empty() && writeWhole(backlog_, cause)) {
        backlog_.clear();
        unwrittenHeaderAt_ = std::string::npos;
    }
    if (backlog_.empty() && writeWhole(line, cause)) {
        if (!writing_) {
            writing_ = true;
            if (onWriting_)
                onWriting_(true, "the guide log " + path_ + " is written again (" + std::to_string(linesLost_) +
                                     " lines could not be written)");
        }
        return;
    }
    // The guiding goes on without this line. A line the table cannot do
    // without (a section's header or end, a settling) waits for the disk.
    ++linesLost_;
    if (keep == Keep::UntilWritten && backlog_.size() + line.size() <= kMaxBacklog)
        backlog_ += line;
    const std::string what = "cannot write the guide log " + path_ + ": " + std::strerror(cause ? cause : ENOSPC);
    if (writeError_.empty())
        writeError_ = what;
    if (writing_) {
        writing_ = false;
        if (onWriting_)
            onWriting_(false, what);
    }
}

std::string GuideLog::now() const
{
    const std::tm t = wallClock_();
    char buf[64];
    const std::size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &t);
    return std::string(buf, n);
}
