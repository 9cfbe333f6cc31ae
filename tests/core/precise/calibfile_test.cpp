// The precise mode's calibration file, kept and reused while it fits, and
// the calibration section it gives the guide log.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <tuple>
#include <unistd.h>

#include "core/precise/calibfile.h"

namespace {

StoredCalibration sample()
{
    StoredCalibration s;
    s.calibration.xAngle = 35.25 * M_PI / 180;
    s.calibration.yAngle = -54.5 * M_PI / 180;
    s.calibration.xRate = 5.1875;
    s.calibration.yRate = 6.0625;
    s.output = 4;
    s.camera = "CCD Simulator";
    s.imageScale = 2.38;
    s.stepMs = 350;
    s.date = "2026-12-07 08:34:16";
    return s;
}

// A calibrator run on a mount that moves the star 5 px/s West (-x) and
// North (+y): square, no backlash.
Calibrator calibrated(double northX = 0)
{
    Calibrator cal(400);
    PointPx star{100, 100};
    for (int i = 0; i < 200; ++i) {
        const CalibrationAction a = cal.update(star);
        if (a.kind != CalibrationAction::Kind::Pulse)
            break;
        const double d = a.ms * 0.005 * (a.direction == Direction::West || a.direction == Direction::North ? 1 : -1);
        if (axisOf(a.direction) == GuideAxis::Ra)
            star.x -= d;
        else {
            star.y += d;
            star.x += d * northX;
        }
    }
    return cal;
}

}  // namespace

TEST(PreciseCalibrationFile, KeptBesideTheSettingsAndReusedWhileItFits)
{
    EXPECT_EQ(preciseCalibrationPath("qv185.dat"), "qv185-precise.txt");
    EXPECT_EQ(preciseCalibrationPath("/home/u/qv185.dat"), "/home/u/qv185-precise.txt");

    char dir[] = "/tmp/quorvel-precise-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/qv185-precise.txt";
    std::string error;
    EXPECT_FALSE(loadCalibration(path, error));
    EXPECT_EQ(error, "") << "no file is no calibration, and no error";

    ASSERT_EQ(saveCalibration(path, sample()), 0);
    const auto back = loadCalibration(path, error);
    ASSERT_TRUE(back) << error;
    EXPECT_NEAR(back->calibration.xAngle, sample().calibration.xAngle, 1e-9);
    EXPECT_NEAR(back->calibration.yAngle, sample().calibration.yAngle, 1e-9);
    EXPECT_EQ(back->calibration.xRate, 5.1875);
    EXPECT_EQ(back->calibration.yRate, 6.0625);
    EXPECT_EQ(back->camera, "CCD Simulator");
    EXPECT_EQ(back->date, "2026-12-07 08:34:16");
    EXPECT_EQ(back->stepMs, 350);

    struct Fit {
        int output;
        const char* camera;
        double scale;
        bool fits;
    };
    for (const Fit& f : {Fit{4, "CCD Simulator", 2.38, true}, Fit{4, "CCD Simulator", 2.39, true},
                         Fit{4, "CCD Simulator", 2.45, false}, Fit{3, "CCD Simulator", 2.38, false},
                         Fit{4, "Ciel simulé", 2.38, false}})
        EXPECT_EQ(calibrationFits(*back, f.output, f.camera, f.scale), f.fits) << f.output << f.camera << f.scale;

    // A damaged file is no calibration, and the fault is named.
    struct Bad {
        std::string text;
        const char* error;
    };
    const std::string good = calibrationFileText(sample());
    const Bad bad[] = {
        {good.substr(0, good.find("y_rate")), "no y_rate_px_s"},
        {good + "x_rate_px_s=fast\n", "line 11: x_rate_px_s: 'fast' is not a number"},
        {good + "colour=blue\n", "line 11: unknown key 'colour'"},
    };
    for (const Bad& b : bad) {
        std::ofstream(path) << b.text;
        EXPECT_FALSE(loadCalibration(path, error));
        EXPECT_EQ(error, path + ": " + b.error);
    }
    std::remove(path.c_str());
    rmdir(dir);
}

TEST(PreciseCalibrationFile, GuideLogSectionAsPhd2WritesIt)
{
    CalibrationLogHeader h{{}, 2.38, 900, "INDI (monture)", "CCD Simulator"};
    h.begins = std::tm{.tm_sec = 16, .tm_min = 34, .tm_hour = 8, .tm_mday = 7, .tm_mon = 11, .tm_year = 126};
    const Calibrator cal = calibrated();
    const std::vector<std::string> lines = calibrationLogLines(h, cal);
    ASSERT_GT(lines.size(), 10u);
    EXPECT_EQ(lines[0], "Calibration Begins at 2026-12-07 08:34:16");
    EXPECT_EQ(lines[1], "Pixel scale = 2.38 arc-sec/px, Binning = 1, Focal length = 900 mm");
    EXPECT_EQ(lines[4], "Direction,Step,dx,dy,x,y,Dist");
    EXPECT_EQ(lines[5], "West,0,0.000,0.000,100.000,100.000,0.000");
    EXPECT_EQ(lines[6], "West,1,-2.000,0.000,98.000,100.000,2.000");
    // 13 West steps of 2 px reach 25 px; the result follows the last one.
    EXPECT_EQ(lines[18], "West,13,-26.000,0.000,74.000,100.000,26.000");
    EXPECT_EQ(lines[19], "West calibration complete. Angle = 0.0 deg, Rate = 5.000 px/sec, Parity = +");
    EXPECT_EQ(lines[20].rfind("East,12,", 0), 0u);
    const auto has = [&](const std::string& prefix) {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    };
    EXPECT_TRUE(has("Backlash,0,"));
    EXPECT_TRUE(has("North calibration complete. Angle = 90.0 deg, Rate = 5.000 px/sec, Parity = +"));
    EXPECT_TRUE(has("South,0,"));
    EXPECT_EQ(lines[lines.size() - 3], "Calibration guide speeds: RA = 11.9 a-s/s, Dec = 11.9 a-s/s");
    EXPECT_EQ(lines.back(), "Calibration complete");

    // Refused: the section says why, with no guide speeds.
    const std::vector<std::string> refused = calibrationLogLines(h, calibrated(0.7));
    EXPECT_EQ(refused.back().rfind("Calibration failed: Calibration refused: the RA and DEC axes are 35.0 degrees", 0),
              0u)
        << refused.back();
    EXPECT_FALSE(std::any_of(refused.begin(), refused.end(),
                             [](const std::string& l) { return l.rfind("Calibration guide speeds", 0) == 0; }));
}

// Found by fuzzing (tests/fuzz/corpus/calibfile/crash-*): a whole number
// beyond int (an output, a step) was converted all the same, which is
// undefined; it is refused with its line.
TEST(PreciseCalibrationFile, NumbersBeyondTheirRangeAreRefused)
{
    std::string text = calibrationFileText(sample());
    for (const auto& [key, value, line] : {std::tuple{"step_ms=350", "step_ms=4e36", 5},
                                           std::tuple{"output=4", "output=-3000000000", 2}}) {
        std::string damaged = text;
        damaged.replace(damaged.find(key), std::string(key).size(), value);
        std::string error;
        EXPECT_FALSE(parseCalibrationFile(damaged, error));
        EXPECT_NE(error.find("line " + std::to_string(line) + ": "), std::string::npos) << error;
        EXPECT_NE(error.find("is out of range"), std::string::npos) << error;
    }
    std::string error;
    EXPECT_TRUE(parseCalibrationFile(text, error)) << error;
}
