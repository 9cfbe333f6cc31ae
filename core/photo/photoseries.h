// Timed photography: a series of numbered grey bitmaps of the whole picture,
// one every interval, "Capture 0000.bmp", "Capture 0001.bmp" ... next to the
// base name the user chose. The "Prise de vue" dialog and the headless guider
// drive the same PhotoSeries: start() when the user asks for a series, tick()
// from the program's periodic timer, stop() to end it. The series goes on
// whether the dialog is open or not, and a shot that cannot be written is
// reported and skipped without stopping the series or the guiding.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/picture.h"

// ---- Interval ----------------------------------------------------------

// The interval edit as read: the integer at the start of its first five
// characters (leading blanks and a sign allowed, 0 when there is no digit,
// held at 0 when negative). An empty or non-numeric text thus gives 0, which
// takes a shot at every tick. `plain` says the whole text was one to five
// digits and nothing else, so that a caller may warn about anything else.
struct IntervalField {
    int32_t value = 0;
    bool plain = false;
};
IntervalField readIntervalField(std::string_view text);

// Units of tparam::photoUnit, as the unit list shows them.
inline constexpr std::array<const char*, 2> kPhotoUnitNames = {"Secondes", "Minutes "};
// 1 is minutes; any other value (only a crafted settings file holds one) is
// taken as seconds, here and in photoIntervalToMs alike.
const char* photoUnitName(int32_t photoUnit);

// The interval in milliseconds, in 64 bits: 99,999 minutes is beyond 32.
// A negative interval counts as 0.
int64_t photoIntervalToMs(int32_t photoInterval, int32_t photoUnit);

// ---- Base name ---------------------------------------------------------

enum class BaseProblem {
    None,
    Empty,        // no name at all
    IsDirectory,  // names a directory, or ends in "/", "." or ".."
    NoFileName,   // the file name is empty before its first "." (".bmp")
    NoDirectory,  // its directory does not exist or is not a directory
    NotWritable,  // its directory exists but cannot be written in
    PathTooLong,  // a shot's full name would pass the system's path limit
    NameTooLong,  // a shot's file name would pass the file system's name limit
};

struct BaseCheck {
    BaseProblem problem = BaseProblem::None;
    std::string path;       // the base name made absolute: what the series uses
    std::string directory;  // its directory
    int error = 0;          // errno of NoDirectory and NotWritable
    long limit = 0;         // the limit a too-long name passes
    // Usable, but the first shot of a series is a file already: a new series
    // would replace the shots of an earlier one. A caller may ask first.
    bool replacesShots = false;

    bool ok() const { return problem == BaseProblem::None; }
};

// Whether shots can be written under this base name; a relative name is
// taken in currentDirectory. The lengths checked are those of the longest
// shot name up to shot 99,999 (" 0000.bmp" or "10000.bmp" in place of the
// extension) and of the temporary file written beside it.
BaseCheck checkPhotoBase(const std::string& base, const std::string& currentDirectory);

enum class Language { English, French };
// One line saying why the base name cannot be used (empty when it can):
// English for the command line, French for the dialog.
std::string baseCheckMessage(const BaseCheck& check, Language language);

// ---- Series ------------------------------------------------------------

// What one tick did when it was time for a shot.
struct ShotResult {
    int64_t n = 0;          // number of the shot, the "N°" the dialog shows
    std::string file;       // its file name
    bool ok = false;        // written
    int error = 0;          // otherwise the errno value of the failure
    std::string errorText;  // and its text

    // "shot 12 not written to /dir/Capture 0012.bmp: No space left on device"
    // (empty when written), for the standard error of the command line.
    std::string message() const;
};

class PhotoSeries {
public:
    // Writes one shot's bytes to file; returns 0, or the errno value of the
    // failure with nothing left behind.
    using Writer = std::function<int(const std::string& file, const std::vector<uint8_t>& bytes)>;

    // The default base name is currentDirectory followed by "/Capture.bmp".
    explicit PhotoSeries(std::string currentDirectory = workingDirectory(), Writer writer = writeShot);

    // The series state, under the names the dialog gives it.
    bool photoRunning() const { return photoRunning_; }
    int64_t photoCount() const { return photoCount_; }  // number of the next shot
    int64_t photoIntervalMs() const { return photoIntervalMs_; }
    int64_t lastShotTime() const { return lastShotTime_; }  // ms since program start
    const std::string& photoPath() const { return photoPath_; }
    bool photoPathIsDefault() const { return photoPathIsDefault_; }
    // The dialog sets it while it is shown; the series does not depend on it.
    bool photoDialogOpen = false;

    // "Commencer": checks the base name (chosenBase when the user chose one,
    // else the current photoPath) and, when it can be used, takes it, sets
    // the interval, lastShotTime = 0 and photoCount = 0, and runs. Otherwise
    // nothing changes and the check says why. Because lastShotTime starts at
    // 0, the first shot comes at the first tick once the program has run one
    // interval: normally the first tick.
    BaseCheck start(int32_t photoInterval, int32_t photoUnit,
                    const std::optional<std::string>& chosenBase = std::nullopt);
    // "Stop": no further shot.
    void stop() { photoRunning_ = false; }

    // The periodic tick. When the series runs and an interval has passed
    // since the last shot, writes the shot of the picture and moves on to the
    // next number, written or not; returns what happened. Otherwise nothing.
    std::optional<ShotResult> tick(int64_t nowMs, const PixelView& picture);

    // The file name of shot `count`: base up to the first "." of its file
    // name (all of it without one), " 0" below 1000, one "0" more below 100
    // and below 10, the number, ".bmp". "/d/Capture.bmp", 7 gives
    // "/d/Capture 0007.bmp"; 1000 gives "/d/Capture1000.bmp".
    static std::string shotName(const std::string& base, int64_t count);
    static std::string defaultPath(const std::string& directory);
    // "N°: 12" (UTF-8).
    static std::string countText(int64_t n);

    // The writer of the program: the file is replaced in one step through a
    // temporary file in its directory, without waiting for the disk.
    static int writeShot(const std::string& file, const std::vector<uint8_t>& bytes);
    static std::string workingDirectory();

private:
    std::string currentDirectory_;
    Writer writer_;
    bool photoRunning_ = false;
    int64_t photoCount_ = 0;
    int64_t photoIntervalMs_ = 0;
    int64_t lastShotTime_ = 0;
    std::string photoPath_;
    bool photoPathIsDefault_ = true;
};
