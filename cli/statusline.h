// The line `quorvel guide` keeps up to date on standard error for a person
// watching at a terminal: time, the guiding error of the last cycle, the RMS
// so far and the pulses sent. Standard output (the JSON lines) is left alone,
// and nothing is written when standard error is not a terminal.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct CycleResult;
struct tparam;
struct GuideRunSummary;

class StatusLine {
public:
    explicit StatusLine(FILE* out);
    ~StatusLine() { end(); }
    StatusLine(const StatusLine&) = delete;
    StatusLine& operator=(const StatusLine&) = delete;

    bool active() const { return active_; }
    // A tracking cycle tSeconds after tracking began; `soFar` the run's
    // figures with it; arcsecPerPixel 0 when the image scale is unknown.
    void cycle(const CycleResult& c, double tSeconds, const GuideRunSummary& soFar, const tparam& params,
               double arcsecPerPixel);
    // Ends the line, so that what is written next starts a line of its own.
    void end();

    // The text of the line.
    static std::string text(double tSeconds, const CycleResult& c, const GuideRunSummary& soFar, int raPulses,
                            int decPulses, double arcsecPerPixel);

private:
    FILE* out_;
    bool active_;
    bool shown_ = false;
    int raPulses_ = 0;
    int decPulses_ = 0;
};
