// Reading guide logs in PHD2's format: a log as another guider writes it
// (calibration first, more columns in its header, AO and dropped rows,
// settling and dithers), Quorvel's own, and damaged lines that are reported
// and left out while the rest is kept.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/log/logreader.h"

namespace {

// As PHD2 writes it: a calibration section, then a guiding section with its
// long header, a dropped frame, an AO row, a dither and settling.
const char* const kOtherGuider =
    "PHD2 version 2.6.11, Log version 2.5. Log enabled at 2026-12-06 20:14:57\n"
    "\n"
    "Calibration Begins at 2026-12-06 20:15:02\n"
    "Pixel scale = 1.50 arc-sec/px, Binning = 1, Focal length = 500 mm\n"
    "Direction,Step,dx,dy,x,y,Dist\n"
    "West,1,0.000,0.000,236.746,130.751,0.000\n"
    "Calibration complete, mount = Mount.\n"
    "\n"
    "Guiding Begins at 2026-12-06 20:20:00\n"
    "Dither = both axes, Dither scale = 1.000, Image noise reduction = none\n"
    "Pixel scale = 2.00 arc-sec/px, Binning = 1, Focal length = 400 mm\n"
    "Mount = On-camera, connected, guiding enabled, xAngle = 12.0, xRate = 7.100, yAngle = 102.0, yRate = 7.000\n"
    "Lock position = 250.000, 180.000, Star position = 250.100, 180.200, HFD = 2.50 px\n"
    "Frame,Time,mount,dx,dy,RARawDistance,DECRawDistance,RAGuideDistance,DECGuideDistance,RADuration,RADirection,"
    "DECDuration,DECDirection,XStep,YStep,StarMass,SNR,ErrorCode\n"
    "1,2.001,\"Mount\",0.100,0.200,1.000,-0.500,1.000,-0.500,140,W,70,N,,,12345,40.12,0\n"
    "2,4.002,\"DROP\",,,,,,,,,,,,,0,0.00,1,\"Star lost - low SNR\"\n"
    "3,6.003,\"AO\",0.1,0.1,0.1,0.1,0.1,0.1,,,,,3,-2,12000,39.00,0\n"
    "INFO: DITHER by 1.234, -0.800, new lock pos = 251.234, 179.200\n"
    "INFO: SETTLING STATE CHANGE, Settling started\n"
    "4,8.004,\"Mount\",0.1,0.1,3.000,2.000,3.000,2.000,420,W,200,S,,,11000,35.00,0\n"
    "INFO: SETTLING STATE CHANGE, Settling complete\n"
    "5,10.005,\"Mount\",0.1,0.1,-1.000,0.500,-1.000,0.500,140,E,0,,,,12100,40.00,0\n"
    "Guiding Ends at 2026-12-06 20:20:12\n"
    "\n"
    "Guiding Begins at 2026-12-06 21:00:00\n"
    "Pixel scale = 0.00 arc-sec/px, Binning = 1, Focal length = 0 mm\n"
    "Frame,Time,mount,dx,dy,RARawDistance,DECRawDistance,RAGuideDistance,DECGuideDistance,RADuration,RADirection,"
    "DECDuration,DECDirection,XStep,YStep,StarMass,SNR,ErrorCode\n"
    "1,1.000,\"Mount\",0,0,0.500,0.000,0,0,0,,0,,,,900,0.00,0\n"
    "\n"
    "2,2.000,\"Mount\",0,0,9.000,9.000,0,0,0,,0,,,,900,0.00,0\n";

TEST(GuideLogReader, ReadsAnotherGuidersLogSectionBySection)
{
    const GuideLogContents log = readGuideLog(kOtherGuider);
    EXPECT_TRUE(log.problems.empty()) << log.problems.front().line << ": " << log.problems.front().what;
    ASSERT_EQ(log.sections.size(), 2u);  // the calibration section is no guiding section

    const GuideLogSection& s = log.sections[0];
    EXPECT_EQ(s.line, 9);
    EXPECT_EQ(s.begins, "2026-12-06 20:20:00");
    ASSERT_TRUE(s.pixelScale);
    EXPECT_DOUBLE_EQ(*s.pixelScale, 2.0);  // the section's own scale, not the calibration's
    ASSERT_EQ(s.frames.size(), 4u);        // the AO row is not the mount's
    EXPECT_EQ(s.frames[0].frame, 1);
    EXPECT_DOUBLE_EQ(s.frames[0].timeS, 2.001);
    EXPECT_DOUBLE_EQ(s.frames[0].raPx, 1.0);
    EXPECT_DOUBLE_EQ(s.frames[0].decPx, -0.5);
    EXPECT_EQ(s.frames[0].raMs, 140);
    EXPECT_EQ(s.frames[0].raDirection, 'W');
    EXPECT_EQ(s.frames[0].decMs, 70);
    EXPECT_EQ(s.frames[0].decDirection, 'N');
    EXPECT_TRUE(s.frames[1].dropped);
    EXPECT_TRUE(s.frames[2].settling);
    EXPECT_EQ(s.frames[2].decDirection, 'S');
    EXPECT_FALSE(s.frames[3].settling);
    EXPECT_EQ(s.frames[3].decMs, 0);        // no direction, no pulse
    EXPECT_EQ(s.frames[3].decDirection, 0);

    ASSERT_EQ(s.events.size(), 3u);
    EXPECT_EQ(s.events[0].kind, LoggedEvent::Kind::Dither);
    EXPECT_DOUBLE_EQ(s.events[0].timeS, 4.002);  // after the dropped frame: the AO row is no row of the mount
    EXPECT_EQ(s.events[0].rowsBefore, 2);

    // Figures over the measured rows out of settling (frames 1 and 5), in
    // arcseconds: RA 2 and -2 (RMS 2, peak 2), DEC -1 and 1.
    const SectionFigures f = sectionFigures(s);
    EXPECT_TRUE(f.arcsec);
    EXPECT_EQ(f.frames, 4);
    EXPECT_EQ(f.dropped, 1);
    EXPECT_EQ(f.used, 2);
    EXPECT_DOUBLE_EQ(f.ra.rms, 2.0);
    EXPECT_DOUBLE_EQ(f.ra.peak, 2.0);
    EXPECT_DOUBLE_EQ(f.dec.rms, 1.0);
    EXPECT_DOUBLE_EQ(f.totalRms, std::sqrt(5.0));

    // No scale: pixels. A blank line ends the table: the row after it is no
    // part of the section.
    const GuideLogSection& t = log.sections[1];
    EXPECT_FALSE(t.pixelScale);
    ASSERT_EQ(t.frames.size(), 1u);
    EXPECT_FALSE(sectionFigures(t).arcsec);
    EXPECT_DOUBLE_EQ(sectionFigures(t).ra.peak, 0.5);
}

// Damaged input of every kind inside a table: each bad line is named with
// its number and left out; every good row around it is kept.
TEST(GuideLogReader, ReportsAndSkipsDamagedLines)
{
    const std::string text =
        "Guiding Begins at 2026-12-06 22:00:00\r\n"
        "Frame,Time,mount,dx,dy,RARawDistance,DECRawDistance,RAGuideDistance,DECGuideDistance,RADuration,"
        "RADirection,DECDuration,DECDirection,XStep,YStep,StarMass,SNR,ErrorCode\r\n"
        "1,1.0,\"Mount\",0,0,0.25,0.5,0,0,100,W,50,X,,,900,0.00,0\r\n"  // X: no DEC direction
        "garbage that is no row\r\n"
        "3,3.0,\"Mount\",0,0,nan,0.5,0,0,0,,0,,,,900,0.00,0\r\n"
        "4,4.0,\"Mount\",0,0,1e999,0.5,0,0,0,,0,,,,900,0.00,0\r\n"
        "5,x,\"Mount\",0,0,1,1,0,0,0,,0,,,,900,0.00,0\r\n"
        "6,6.0,\"Mount\",0,0,0.75,-0.25,0,0,99999999999,E,0,,,,900,0.00,0\r\n"
        "7\r\n"
        "\r\n"
        "Guiding Begins at 2026-12-06 23:00:00\n"
        "Frame,Time,mount,dx,dy\n"
        "1,1.0,\"Mount\",0,0\n";
    const GuideLogContents log = readGuideLog(text);
    ASSERT_EQ(log.sections.size(), 2u);
    const GuideLogSection& s = log.sections[0];
    ASSERT_EQ(s.frames.size(), 2u);
    EXPECT_EQ(s.frames[0].decDirection, 0);
    EXPECT_EQ(s.frames[0].decMs, 0);
    EXPECT_EQ(s.frames[1].frame, 6);
    EXPECT_EQ(s.frames[1].raMs, 86400000);  // a pulse longer than a day is a day
    EXPECT_TRUE(log.sections[1].frames.empty());

    std::vector<int> lines;
    for (const GuideLogProblem& p : log.problems)
        lines.push_back(p.line);
    EXPECT_EQ(lines, (std::vector<int>{4, 5, 6, 7, 9, 12}));
    EXPECT_NE(log.problems.back().what.find("RARawDistance"), std::string::npos);
}

TEST(GuideLogReader, TextWithoutGuidingSectionsGivesNone)
{
    for (const char* text : {"", "\n\n", "hello\nworld", "Calibration Begins at 2026-12-06\nWest,1,0,0,0,0,0\n",
                             "\xff\xfe\x00garbage"}) {
        const GuideLogContents log = readGuideLog(text);
        EXPECT_TRUE(log.sections.empty()) << text;
        EXPECT_TRUE(log.problems.empty()) << text;
    }
}

}  // namespace
