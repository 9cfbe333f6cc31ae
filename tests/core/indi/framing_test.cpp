// The three framings of a camera frame into the 320 x 240 picture: exact
// area averages, a window that stays on the frame, and 2 x 2 binning.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "core/indi/framing.h"

namespace {

constexpr int W = Picture::width, H = Picture::height;

// A frame whose every value tells where it lies: x + 4096 y (exact in floats).
CameraFrame coordinateFrame(int width, int height)
{
    CameraFrame f{width, height, std::vector<float>(size_t(width) * size_t(height))};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            f.values[size_t(y) * size_t(width) + size_t(x)] = float(x + 4096 * y);
    return f;
}

float at(const FramedPicture& f, int x, int y)
{
    return f.values[size_t(y) * W + size_t(x)];
}

}  // namespace

TEST(Framing, WholeFrameOfTwoByTwoBlocksGivesTheirExactMeans)
{
    // Each 2 x 2 block holds four different values whose mean is known.
    CameraFrame frame{640, 480, std::vector<float>(640 * 480)};
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            frame.values[size_t(y) * 640 + size_t(x)] = float((x / 2 * 7 + y / 2 * 13) % 1000 + (x % 2) * 4 + (y % 2) * 8);
    const FramedPicture f = framePicture(frame, Framing::Whole, 0, 0);
    EXPECT_EQ(f.scale, 2);
    EXPECT_EQ(f.originX, 0);
    EXPECT_EQ(f.originY, 0);
    int wrong = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            wrong += at(f, x, y) != float((x * 7 + y * 13) % 1000 + 6);  // mean of +0, +4, +8, +12
    EXPECT_EQ(wrong, 0);
}

TEST(Framing, WholeFrameOfAnotherShapeKeepsSquarePixelsAndEveryPhoton)
{
    // 1280 x 1024 is 5:4: reduced 4.27 times into 300 x 240 between bands
    // of 10 columns; one bright camera pixel keeps its light, spread over the
    // picture pixels that cover it.
    CameraFrame frame{1280, 1024, std::vector<float>(1280 * 1024, 10.0f)};
    frame.values[size_t(501) * 1280 + 700] += 1000.0f;
    const FramedPicture f = framePicture(frame, Framing::Whole, 0, 0);
    EXPECT_DOUBLE_EQ(f.scale, 1024.0 / 240);
    EXPECT_NEAR(f.originX, -10 * f.scale, 1e-9);
    EXPECT_EQ(f.originY, 0);
    double extra = 0;
    int bands = 0, content = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const float v = at(f, x, y);
            if (std::isnan(v)) {
                ++bands;
                EXPECT_TRUE(x < 10 || x >= 310) << x;
            } else {
                ++content;
                extra += v - 10.0;
            }
        }
    EXPECT_EQ(bands, 20 * H);
    EXPECT_EQ(content, 300 * H);
    EXPECT_NEAR(extra * f.scale * f.scale, 1000.0, 0.1);
    // The light falls where the camera pixel lies: (700 - origin) / scale.
    const int px = int((700 - f.originX) / f.scale), py = int(501 / f.scale);
    EXPECT_GT(at(f, px, py), 10.0f);
}

TEST(Framing, WindowsAreCutAroundTheirCentreAndStayOnTheFrame)
{
    struct Case {
        int frameW, frameH;
        Framing framing;
        int centreX, centreY;
        double originX, originY;  // camera pixel at the picture's corner
    } cases[] = {
        {1280, 1024, Framing::Window, 640, 512, 480, 392},
        {1280, 1024, Framing::Window, 700, 300, 540, 180},
        {1280, 1024, Framing::Window, 10, 5, 0, 0},           // clamped to the top-left corner
        {1280, 1024, Framing::Window, 5000, 5000, 960, 784},  // and to the bottom-right one
        {1280, 1024, Framing::Window, -20, 1023, 0, 784},
        {1280, 1024, Framing::WindowBinned, 640, 512, 320, 272},
        {1280, 1024, Framing::WindowBinned, 1270, 3, 640, 0},
        {640, 480, Framing::WindowBinned, 100, 100, 0, 0},    // the window is the whole frame
        {200, 100, Framing::Window, 50, 50, -60, -70},        // a smaller frame sits in the middle
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.frameW << "x" << c.frameH << " framing " << int(c.framing)
                                          << " centre " << c.centreX << "," << c.centreY);
        const CameraFrame frame = coordinateFrame(c.frameW, c.frameH);
        const FramedPicture f = framePicture(frame, c.framing, c.centreX, c.centreY);
        EXPECT_EQ(f.originX, c.originX);
        EXPECT_EQ(f.originY, c.originY);
        const int k = c.framing == Framing::Window ? 1 : 2;
        EXPECT_EQ(f.scale, k);
        // Every picture pixel on the frame is its camera pixel, or the mean
        // of its 2 x 2 block (+0.5 column, +0.5 row in the coordinates).
        int wrong = 0, outside = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const double cx = c.originX + x * k, cy = c.originY + y * k;
                const float v = at(f, x, y);
                if (cx < 0 || cy < 0 || cx >= c.frameW || cy >= c.frameH) {
                    outside += std::isnan(v) ? 1 : 0;
                    wrong += std::isnan(v) ? 0 : 1;
                } else {
                    const double expected = cx + 4096 * cy + (k - 1) * 0.5 * (1 + 4096);
                    wrong += std::fabs(v - expected) > 1e-3 * expected + 1e-3;
                }
            }
        EXPECT_EQ(wrong, 0);
        const int inside = std::min(W * k, c.frameW) / k * (std::min(H * k, c.frameH) / k);
        EXPECT_EQ(outside, W * H - inside);
    }
}

TEST(Framing, AnUnplacedWindowFindsTheBrightestStar)
{
    CameraFrame frame;
    frame.width = 1280;
    frame.height = 1024;
    frame.values.assign(size_t(frame.width) * frame.height, 100.0f);
    frame.values[size_t(600) * frame.width + 900] = 60000.0f;  // a hot pixel
    for (int j = -2; j <= 2; ++j)
        for (int i = -2; i <= 2; ++i)
            frame.values[size_t(300 + j) * frame.width + 200 + i] = 20000.0f;  // a star
    const CameraPoint p = brightestPatch(frame);
    EXPECT_EQ(p.x, 200);
    EXPECT_EQ(p.y, 300);
}
