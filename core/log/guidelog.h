// The guide log, in the text format of PHD2's guide logs (log version 2.5),
// so that imagers can open a night's guiding in PHD2 Log Viewer: one section
// per tracking period, one row per measurement cycle, events as INFO lines.
//
// The log listens to the guiding session (attach), so enabling it is one
// line for the windows and the headless guider alike. Every line goes to the
// file in one write, unbuffered: a process killed outright leaves the file
// whole up to its last line. A failed write never stops the guiding: the
// first failure is kept for the program to report, and a line the disk could
// only take part of is cut back off, so the file never holds half a line.
// While the disk is full, rows and INFO lines are lost, but the lines that
// make the table (a section's header and end, the settling and pause lines)
// wait and are written before anything else once there is room again.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class GuidingSession;
struct SharedState;
struct CycleResult;
struct SessionEvent;

// Local date and time for the dates the log writes; tests hand in their own.
using WallClock = std::function<std::tm()>;
WallClock localWallClock();

// The output's name as the parameters dialog lists it ("Rereridu standard",
// "LX 200", "Meade ETX", "Diodes virtuelles"; "Interface N" for any other).
std::string interfaceName(int32_t interfaceType);

class GuideLog {
public:
    // Opens the log at path for appending (an earlier log in the same file is
    // kept; the viewer reads every section) and writes its first line. Returns
    // nullptr, with a readable error, when the file cannot be opened; a write
    // that fails afterwards is only reported by writeError().
    static std::unique_ptr<GuideLog> open(const std::string& path, WallClock wallClock, std::string& error);
    // The program's log: opened on the local time and attached to the session.
    static std::unique_ptr<GuideLog> openFor(const std::string& path, GuidingSession& session, SharedState& state,
                                             std::string& error);

    // close().
    ~GuideLog();
    GuideLog(const GuideLog&) = delete;
    GuideLog& operator=(const GuideLog&) = delete;

    // Logs this session from now on: a section per tracking period (one opens
    // at once if tracking is on), a row per cycle while tracking, the lock
    // moves, pauses and resumes. The elapsed times come from state.clock. The
    // log must be closed or destroyed before the session.
    void attach(GuidingSession& session, SharedState& state);
    void detach();

    // A dither: the lock moved by (dx, dy) pixels. Call it once the lock has
    // moved (GuidingSession::moveLock): the line gives the new lock position.
    void dither(double dx, double dy);
    // A calibration section (calibfile.h, calibrationLogLines), between
    // guiding sections as PHD2 writes it.
    void calibration(const std::vector<std::string>& lines);
    // The mount's axes as a calibration measured them (degrees, px/s), for
    // the Mount line of the guiding sections that follow; none: the
    // settings' axes and speeds.
    struct MountAxes {
        double xAngle = 0, xRate = 0, yAngle = 0, yRate = 0;
    };
    void setMountAxes(std::optional<MountAxes> axes) { mountAxes_ = axes; }

    // Settling, as PHD2 marks it: PHD2 Log Viewer leaves the rows between
    // "Settling started" and its end out of its figures. A start announced
    // just before tracking starts is written at the top of the new section.
    enum class Settling { Started, Complete, Failed };
    void settling(Settling change);
    // Every tracking period starts with a settling of this many seconds,
    // reckoned from the cycle that took the lock (0: none), as `quorvel
    // guide` leaves them out of its summary.
    void settleAfterStart(double seconds) { openingSettleSec_ = seconds; }

    // Ends the log: "Guiding Ends" if a tracking period is open, then "Log
    // closed"; stops listening and closes the file. A second call does
    // nothing.
    void close();

    // Told when writing stops (with the cause) and when it works again, so
    // that the program can say so as it happens; told at once when writing
    // has already stopped (the first line, written when the log opened).
    using WritingListener = std::function<void(bool writing, const std::string& message)>;
    void setWritingListener(WritingListener listener);

    bool isClosed() const { return fd_ < 0; }
    const std::string& path() const { return path_; }
    // The first write that failed, with its cause ("" when none), and how many
    // lines could not be written when they came (a header line written later
    // included).
    const std::string& writeError() const { return writeError_; }
    int linesLost() const { return linesLost_; }

private:
    GuideLog(int fd, std::string path, WallClock wallClock, int64_t size);

    void onEvent(const SessionEvent& e);
    void beginPeriod();
    void endPeriod();
    void writeRow(const CycleResult& c);
    void writeLockPosition();
    // The lock, in fractions of a pixel when the precise mode set one.
    double lockX() const;
    double lockY() const;
    void writeSettling(Settling change);
    void writeBlank();
    enum class Keep { No, UntilWritten };
    void writeLine(std::string line, Keep keep = Keep::No);
    bool writeWhole(const std::string& text, int& cause);
    std::string now() const;

    int fd_ = -1;
    std::string path_;
    WallClock wallClock_;
    int64_t wholeSize_ = 0;     // file size up to the end of the last whole line

    GuidingSession* session_ = nullptr;
    SharedState* state_ = nullptr;
    int listener_ = 0;

    std::optional<MountAxes> mountAxes_;
    bool inPeriod_ = false;     // a "Guiding Begins" section is open
    int64_t periodStartUs_ = 0;
    int frame_ = 0;
    bool lastLineBlank_ = false;
    bool settlingAnnounced_ = false;  // a settling started before the section opened
    double openingSettleSec_ = 0;
    bool openingSettling_ = false;    // the period's opening settling is under way
    int64_t lockCycleUs_ = 0;         // the cycle that took the lock

    std::string writeError_;
    int linesLost_ = 0;
    bool writing_ = true;
    WritingListener onWriting_;
    // Lines kept while the disk was full (whole lines, at most kMaxBacklog
    // bytes), and where the open section's header starts in them when none
    // of it reached the file.
    static constexpr std::size_t kMaxBacklog = 64 * 1024;
    std::string backlog_;
    std::size_t unwrittenHeaderAt_ = std::string::npos;
};
