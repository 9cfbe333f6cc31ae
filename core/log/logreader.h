// Reading guide logs in PHD2's text format: Quorvel's own and those of the
// other guiders that write it (PHD2, KStars Ekos). A log holds sections;
// only the guiding ones are read ("Guiding Begins at" to "Guiding Ends" or
// a blank line); calibration sections and anything else between them are
// passed over. Within a section the table's header line names the columns,
// so a writer that orders or adds columns differently is read the same way.
//
// The reader never fails on content: a line it cannot make sense of inside a
// table is left out and reported with its line number, and everything else
// is kept.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One row of a guiding table: a measurement cycle.
struct LoggedFrame {
    int frame = 0;
    double timeS = 0;        // seconds since the section began
    bool dropped = false;    // no star was measured: no figure below means anything
    bool settling = false;   // between "Settling started" and its end
    // The star's distance from the lock along the mount's axes, in pixels
    // (RARawDistance, DECRawDistance).
    double raPx = 0;
    double decPx = 0;
    // The pulse each axis got, in milliseconds, and its direction ('E' or
    // 'W', 'N' or 'S'; 0 with no pulse).
    int raMs = 0;
    char raDirection = 0;
    int decMs = 0;
    char decDirection = 0;
};

// An INFO line of a guiding section, at the time of the row before it (0
// before the first row).
struct LoggedEvent {
    enum class Kind { LockPosition, Dither, Paused, Resumed, Other };
    Kind kind = Kind::Other;
    double timeS = 0;
    int rowsBefore = 0;  // rows of the table before it
    std::string text;    // the line after "INFO: "
};

struct GuideLogSection {
    int line = 0;            // the line number of "Guiding Begins at"
    std::string begins;      // the date and time after "Guiding Begins at "
    std::optional<double> pixelScale;  // arcseconds per pixel, when above zero
    std::vector<LoggedFrame> frames;
    std::vector<LoggedEvent> events;
};

struct GuideLogProblem {
    int line = 0;
    std::string what;
};

struct GuideLogContents {
    std::vector<GuideLogSection> sections;
    std::vector<GuideLogProblem> problems;  // lines of a table left out, and why
};

GuideLogContents readGuideLog(std::string_view text);

// The figures of one axis over the frames that count: those measured
// (not dropped) and not settling.
struct AxisFigures {
    double rms = 0;   // standard deviation about the mean, as PHD2 Log Viewer reckons it
    double peak = 0;  // largest distance from the lock, either side
};

struct SectionFigures {
    bool arcsec = false;  // the figures are in arcseconds (the image scale is known), else pixels
    int frames = 0;       // rows of the table
    int dropped = 0;
    int used = 0;         // rows the figures are taken over
    AxisFigures ra, dec;
    double totalRms = 0;  // both axes: the root of the sum of their squares
};

SectionFigures sectionFigures(const GuideLogSection& section);

// Pixels to the unit of the figures: the image scale, or 1 when unknown.
double unitPerPixel(const GuideLogSection& section);
