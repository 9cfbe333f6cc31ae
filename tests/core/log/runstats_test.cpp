// `quorvel guide`'s lines: the summary over series of known mean and spread,
// its ten-second window and dropped frames, and the cycle line on every
// output and with unusable optics.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core/log/runstats.h"
#include "starrig.h"

namespace {

struct Sample {
    double t;
    int dx, dy;
    bool dropped = false;
    bool tracking = true;
};

std::string summaryOf(const std::vector<Sample>& samples, float scale)
{
    GuideRunStats stats;
    for (const Sample& s : samples) {
        CycleResult c;
        c.tracking = s.tracking;
        c.dx = s.dx;
        c.dy = s.dy;
        c.measurement.gated = s.dropped;
        stats.add(c, s.t);
    }
    return stats.summaryJson(scale);
}

}  // namespace

TEST(GuideRunStats, SummaryOverTheSettledDroppedFreeCycles)
{
    const std::string none = "\"rms_x_px\":null,\"rms_y_px\":null,\"mean_x_px\":null,\"mean_y_px\":null,"
                             "\"rms_x_arcsec\":null,\"rms_y_arcsec\":null,\"max_px\":null}";
    struct Case {
        const char* what;
        std::vector<Sample> samples;
        float scale;
        std::string json;
    } cases[] = {
        {"no cycle", {}, 2.0f, "{\"summary\":true,\"cycles\":0,\"dropped\":0," + none},
        {"standard deviation about the mean, population form",
         {{10, 2, -2}, {11, 4, -4}, {12, 4, -4}, {13, 4, -4}, {14, 5, -5}, {15, 5, -5}, {16, 7, -7}, {17, 9, -9}},
         2.5f,
         "{\"summary\":true,\"cycles\":8,\"dropped\":0,\"rms_x_px\":2.000,\"rms_y_px\":2.000,\"mean_x_px\":5.000,"
         "\"mean_y_px\":-5.000,\"rms_x_arcsec\":5.000,\"rms_y_arcsec\":5.000,\"max_px\":9.000}"},
        {"the first ten seconds left out; a drop there is not counted",
         {{0, 40, -40}, {5, 30, 0, true}, {9.999, 20, 20}, {10, 1, 0}, {11.2, 3, -2}},
         1.0f,
         "{\"summary\":true,\"cycles\":2,\"dropped\":0,\"rms_x_px\":1.000,\"rms_y_px\":1.000,\"mean_x_px\":2.000,"
         "\"mean_y_px\":-1.000,\"rms_x_arcsec\":1.000,\"rms_y_arcsec\":1.000,\"max_px\":3.000}"},
        {"shorter than ten seconds: every cycle",
         {{1.2, 1, 0}, {2.4, 2, 0}, {3.6, 3, 0}},
         1.0f,
         "{\"summary\":true,\"cycles\":3,\"dropped\":0,\"rms_x_px\":0.816,\"rms_y_px\":0.000,\"mean_x_px\":2.000,"
         "\"mean_y_px\":0.000,\"rms_x_arcsec\":0.816,\"rms_y_arcsec\":0.000,\"max_px\":3.000}"},
        {"dropped frames counted, not measured",
         {{12, 1, 1}, {13, 0, 0, true}, {14, -1, -1}, {15, 0, 0, true}, {16, 0, 0, false, false}},
         1.0f,
         "{\"summary\":true,\"cycles\":2,\"dropped\":2,\"rms_x_px\":1.000,\"rms_y_px\":1.000,\"mean_x_px\":0.000,"
         "\"mean_y_px\":0.000,\"rms_x_arcsec\":1.000,\"rms_y_arcsec\":1.000,\"max_px\":1.000}"},
        {"only dropped frames after ten seconds", {{3, 1, 1}, {12, 0, 0, true}}, 1.0f,
         "{\"summary\":true,\"cycles\":0,\"dropped\":1," + none},
        {"no usable image scale",
         {{1, 2, 0}, {2, 0, 0}},
         std::numeric_limits<float>::infinity(),
         "{\"summary\":true,\"cycles\":2,\"dropped\":0,\"rms_x_px\":1.000,\"rms_y_px\":0.000,\"mean_x_px\":1.000,"
         "\"mean_y_px\":0.000,\"rms_x_arcsec\":null,\"rms_y_arcsec\":null,\"max_px\":2.000}"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(summaryOf(c.samples, c.scale), c.json) << c.what;
}

TEST(GuideRunStats, CycleLineOnEveryOutput)
{
    // The star 3 pixels right of and 2 below its lock: AD 36 counts, DEC 20.
    const std::string seen = "{\"t_s\":1.200,\"dx\":-3,\"dy\":-2,\"population\":9,";
    struct Case {
        const char* what;
        int output;
        bool inhibitDecPlus, usableOptics, star;
        std::string json;
    } cases[] = {
        {"LED window: West and South, right squares", VirtualLeds, false, true, true,
         seen + "\"ad_count\":36,\"dec_count\":20,\"ad_ms\":540,\"dec_ms\":300,\"dropped\":false}"},
        {"relay box: no timed length", RelayBox, false, true, true,
         seen + "\"ad_count\":36,\"dec_count\":20,\"ad_ms\":null,\"dec_ms\":null,\"dropped\":false}"},
        {"DEC+ inhibited", Lx200, true, true, true,
         seen + "\"ad_count\":36,\"dec_count\":20,\"ad_ms\":540,\"dec_ms\":null,\"dropped\":false}"},
        {"unusable optics", VirtualLeds, false, false, true,
         seen + "\"ad_count\":null,\"dec_count\":null,\"ad_ms\":null,\"dec_ms\":null,\"dropped\":false}"},
        {"star lost", VirtualLeds, false, true, false,
         "{\"t_s\":1.200,\"dx\":0,\"dy\":0,\"population\":0,\"ad_count\":0,\"dec_count\":0,"
         "\"ad_ms\":0,\"dec_ms\":0,\"dropped\":true}"},
    };
    for (const Case& c : cases) {
        StarRig rig(c.output);
        rig.state.inhibitDecPlus = c.inhibitDecPlus;
        rig.lockOn(160, 120);
        const int64_t startUs = rig.clock.nowUs();
        if (!c.usableOptics)
            rig.state.params->focalLength = 0;
        if (c.star)
            rig.star(163, 122);
        else
            rig.noStar();
        const CycleResult& cycle = rig.cycle();
        EXPECT_EQ(cycleJson(cycle, double(cycle.timeUs - startUs) / 1e6), c.json) << c.what;
    }
}
