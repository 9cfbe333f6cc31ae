// What `quorvel guide` prints while it tracks: one JSON line per measurement
// cycle, and at the end the summary of the guiding error, reckoned as PHD2
// Log Viewer reckons its RMS (the standard deviation about the mean) so that
// both give the same figures for one run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct CycleResult;
struct tparam;

// The image scale of the settings in arcseconds per pixel, or 0 when the
// focal length or the pixel size is not above zero (the correction then
// sends nothing, and no figure in arcseconds means anything).
float usablePixelScale(const tparam& params);

// One cycle while tracking, tSeconds after tracking began:
// {"t_s":T,"dx":DX,"dy":DY,"population":P,"ad_count":A,"dec_count":D,
//  "ad_ms":MA,"dec_ms":MD,"dropped":B}
// dx, dy: the guiding error (reference minus star, pixels). Counts: as the
// correction computed them, null when nothing was sent (unusable optics, a
// run that sends nothing). ms: the signed lengths the output reported timing
// in milliseconds (below zero East or North), null for the relay box's
// counts, when nothing was sent on that axis, or when an inhibit held the
// DEC pulse back. dropped: the tracking gate discarded the frame.
std::string cycleJson(const CycleResult& cycle, double tSeconds);

struct GuideRunSummary {
    int cycles = 0;   // cycles the figures are taken over
    int dropped = 0;  // dropped cycles in the same time window
    // Pixels; empty when no cycle is used.
    std::optional<double> rmsX, rmsY;    // standard deviation (population form)
    std::optional<double> meanX, meanY;  // mean guiding error, reference minus star
    std::optional<double> maxAbs;        // largest |error| over both axes
};

class GuideRunStats {
public:
    // The first seconds of tracking are the star being pulled to its lock:
    // left out, unless no cycle came after them.
    static constexpr double kSettleSeconds = 10.0;

    // A cycle tSeconds after tracking began (cycles not tracking are ignored).
    void add(const CycleResult& cycle, double tSeconds);

    GuideRunSummary summary() const;
    // {"summary":true,"cycles":C,"dropped":K,"rms_x_px":X,"rms_y_px":Y,
    //  "mean_x_px":MX,"mean_y_px":MY,"rms_x_arcsec":XA,"rms_y_arcsec":YA,"max_px":M}
    // Arcseconds with this image scale (usablePixelScale; null when it is not
    // above zero).
    std::string summaryJson(float pixelScaleArcsecPerPixel) const;

private:
    struct Window {
        int used = 0;
        int dropped = 0;
        double meanX = 0, sqX = 0;  // running mean and sum of squared deviations
        double meanY = 0, sqY = 0;
        double maxAbs = 0;
        void add(const CycleResult& c);
    };
    Window all_;
    Window settled_;
};
