// The track window: the readout pixels of a measurement cycle.
#include <QImage>
#include <gtest/gtest.h>

#include "ui/optorig.h"
#include "ui/trackwin.h"

namespace {

constexpr QRgb kAmber = 0xF0B000;
constexpr QRgb kRed = 0xFF0000;
const QRect kAdFigure(50, 10, 25, 14);
const QRect kDecFigure(50, 33, 25, 14);
const QRect kAdLabel(10, 10, 40, 14);
const QRect kAdPercent(75, 10, 28, 14);
const QRect kDecPercent(75, 33, 28, 14);
const QRect kWhole(-5, -5, 200, 200);  // the window and its border

// Pixels of this colour (or, with `other`, of any other colour) in a
// rectangle given in client coordinates.
int count(const QImage& img, QRect clientRect, QRgb colour, bool other = false)
{
    int n = 0;
    const QRect r = clientRect.translated(Trackwin::kBorder, Trackwin::kBorder).intersected(img.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += ((img.pixel(x, y) & 0xFFFFFF) == colour) != other;
    return n;
}

// A track window over the core, with optics of 2.0626"/px and speeds of 7.5"/s.
struct TrackRig : OptoRig {
    Trackwin track{drawing, nullptr};

    explicit TrackRig(int interfaceType = Lx200) : OptoRig(interfaceType)
    {
        state.params->focalLength = 100;
        state.params->pixelSize = 10;
        state.params->raSpeed = 7.5;
        state.params->decSpeed = 7.5;
    }
    // What a measurement cycle while tracking hands the window for this error.
    CycleResult cycle(int dx, int dy)
    {
        CycleResult c;
        c.tracking = true;
        c.dx = dx;
        c.dy = dy;
        c.correction = correction::compute(correctionInputs(state, dx, dy));
        return c;
    }
    QImage shot() { return track.grab().toImage(); }
};

}  // namespace

TEST(TrackWindow, TrackingOffClearsTheReadout)
{
    TrackRig rig;
    EXPECT_EQ(count(rig.shot(), kWhole, 0, true), 0);
    rig.track.ShowCorrection(rig.cycle(2, -1));
    EXPECT_GT(count(rig.shot(), kWhole, 0, true), 0);
    rig.track.ShowCorrection(CycleResult{});
    EXPECT_EQ(count(rig.shot(), kWhole, 0, true), 0);
}

TEST(TrackWindow, WorkedExampleInAmberThatStaysThroughARepaint)
{
    TrackRig rig;
    rig.track.ShowCorrection(rig.cycle(2, -1));
    EXPECT_NEAR(rig.track.pixelScale, 2.0626, 1e-4);
    const QImage img = rig.shot();
    for (const QRect& r : {kAdFigure, kDecFigure, kAdLabel, kAdPercent, kDecPercent})
        EXPECT_GT(count(img, r, kAmber), 0) << r.x() << "," << r.y();
    EXPECT_EQ(count(img, kAdPercent, kRed), 0);
    rig.track.repaint();
    EXPECT_EQ(rig.shot(), img);
}

TEST(TrackWindow, SaturatedPercentageIsRed)
{
    TrackRig rig;
    rig.state.params->raSpeed = 12;
    rig.state.params->decSpeed = 14;
    rig.track.ShowCorrection(rig.cycle(-12, 0));
    const QImage img = rig.shot();
    EXPECT_GT(count(img, kAdFigure, kAmber), 0);   // "-12"
    EXPECT_GT(count(img, kAdPercent, kRed), 0);    // "100%"
    EXPECT_EQ(count(img, kAdPercent, kAmber), 0);
    EXPECT_GT(count(img, kDecPercent, kAmber), 0); // "0%"
    EXPECT_EQ(count(img, kDecPercent, kRed), 0);
}

TEST(TrackWindow, UnusableOpticsShowTheErrorsAndDashes)
{
    TrackRig rig;
    rig.state.params->focalLength = 0;
    rig.track.ShowCorrection(rig.cycle(2, -1));
    const QImage img = rig.shot();
    EXPECT_GT(count(img, kAdFigure, kAmber), 0);
    EXPECT_GT(count(img, kAdPercent, kAmber), 0);  // "--"
    EXPECT_EQ(count(img, kAdPercent, kRed), 0);
}
