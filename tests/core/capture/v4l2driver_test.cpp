// The V4L2 driver against a fake camera: what it asks for, which frame it
// hands out, and how it behaves when the camera is taken away or held.
#include <gtest/gtest.h>

#include "core/capture/fakev4l2.h"
#include "core/capture/v4l2driver.h"

namespace {

const char* const kPath = "/dev/video0";

struct Rig {
    std::shared_ptr<FakeV4l2Device> fake = std::make_shared<FakeV4l2Device>();
    FakeCamera& camera = fake->nodes[kPath];
    V4l2Driver driver{fake, kPath};
    Picture picture;
    std::string error;

    GrabStatus grab() { return driver.grab(picture, error); }
    uint32_t centre() const { return picture.bits[120 * Picture::width + 160]; }
};

int findLabel(const std::vector<CaptureFormat>& formats, const std::string& label)
{
    for (size_t i = 0; i < formats.size(); ++i)
        if (formats[i].label == label)
            return int(i);
    return -1;
}

}  // namespace

TEST(V4l2Driver, AsksForRgb24AtTheChosenSizeAndScalesWhatComes)
{
    Rig r;
    r.camera.formats = {
        {V4L2_PIX_FMT_YUYV, {{1280, 720}, {640, 480}, {320, 240}}, {}, false},
        {V4L2_PIX_FMT_MJPEG, {{1920, 1080}}, {}, false},
        {V4L2_PIX_FMT_RGB24, {{640, 480}}, {}, true},  // libv4l2's own conversion: not the camera's
        {V4L2_PIX_FMT_SGRBG8, {}, v4l2_frmsize_stepwise{160, 1280, 16, 120, 960, 8}, false},
    };
    r.fake->stridePad = 16;
    ASSERT_TRUE(r.driver.connect().ok);
    EXPECT_EQ(r.driver.name(), "UVC Camera (046d:0825)");

    std::vector<std::string> labels;
    for (const CaptureFormat& f : r.driver.formats())
        labels.push_back(f.label);
    EXPECT_EQ(labels, (std::vector<std::string>{"1280 x 720 YUYV", "640 x 480 YUYV", "320 x 240 YUYV",
                                                 "1920 x 1080 MJPG", "160 x 120 GRBG", "320 x 240 GRBG",
                                                 "352 x 288 GRBG", "640 x 480 GRBG", "800 x 600 GRBG",
                                                 "1024 x 768 GRBG", "1280 x 720 GRBG", "1280 x 960 GRBG"}));
    // Unless told, the largest size up to 640 x 480.
    ASSERT_TRUE(r.fake->askedFormat);
    EXPECT_EQ(r.fake->askedFormat->fmt.pix.pixelformat, uint32_t(V4L2_PIX_FMT_RGB24));
    EXPECT_EQ(r.fake->askedFormat->fmt.pix.width, 640u);
    EXPECT_EQ(r.driver.currentFormat(), 1);

    // Left half 200, right half 50, on the padded rows: the picture too.
    const auto halves = [&r](int x, int, int) { return uint8_t(x < int(r.fake->format.fmt.pix.width) / 2 ? 200 : 50); };
    r.fake->produce(halves);
    ASSERT_EQ(r.grab(), GrabStatus::NewFrame);
    EXPECT_EQ(r.picture.bits[10 * 320 + 159], rgbWord(200, 200, 200));
    EXPECT_EQ(r.picture.bits[230 * 320 + 160], rgbWord(50, 50, 50));

    // A new choice restarts the stream at its size; later frames follow it.
    const int big = findLabel(r.driver.formats(), "1920 x 1080 MJPG");
    ASSERT_TRUE(r.driver.setFormat(big).ok);
    EXPECT_EQ(r.fake->askedFormat->fmt.pix.width, 1920u);
    EXPECT_EQ(r.fake->askedFormat->fmt.pix.height, 1080u);
    EXPECT_EQ(r.fake->streamOns, 2);
    EXPECT_EQ(r.driver.currentFormat(), big);
    EXPECT_EQ(r.driver.frameWidth(), 1920);
    r.fake->produce(halves);
    ASSERT_EQ(r.grab(), GrabStatus::NewFrame);
    EXPECT_EQ(r.picture.bits[10 * 320 + 159], rgbWord(200, 200, 200));
    EXPECT_EQ(r.picture.bits[10 * 320 + 160], rgbWord(50, 50, 50));

    EXPECT_FALSE(r.driver.setFormat(99).ok);
    r.driver.disconnect();
    EXPECT_EQ(r.fake->openFds, 0);
    EXPECT_EQ(r.fake->mappings, 0);
}

TEST(V4l2Driver, TakesTheNewestFrameAndGivesTheOlderOnesBack)
{
    Rig r;
    ASSERT_TRUE(r.driver.connect().ok);
    EXPECT_EQ(r.grab(), GrabStatus::NoFrame);

    r.fake->produceGrey(10);
    r.fake->produceGrey(200);
    ASSERT_EQ(r.grab(), GrabStatus::NewFrame);
    EXPECT_EQ(r.centre(), rgbWord(200, 200, 200));
    // Every buffer is back with the camera: nothing stale waits to be read.
    EXPECT_EQ(r.fake->queuedCount(), r.fake->bufferCount());
    EXPECT_EQ(r.grab(), GrabStatus::NoFrame);

    // A newer frame that arrived damaged is not shown in place of a good one.
    r.fake->produceGrey(90);
    r.fake->produceGrey(30, V4L2_BUF_FLAG_ERROR);
    ASSERT_EQ(r.grab(), GrabStatus::NewFrame);
    EXPECT_EQ(r.centre(), rgbWord(90, 90, 90));
    EXPECT_EQ(r.fake->queuedCount(), r.fake->bufferCount());

    // Four frames behind: the newest still.
    for (int v : {1, 2, 3, 4})
        r.fake->produceGrey(uint8_t(v));
    ASSERT_EQ(r.grab(), GrabStatus::NewFrame);
    EXPECT_EQ(r.centre(), rgbWord(4, 4, 4));
}

TEST(V4l2Driver, AnUnpluggedCameraIsLostCleanlyAndCanComeBack)
{
    struct Case {
        const char* what;
        bool pollOnly;  // only poll reports it; DQBUF says nothing is ready
        int err;
        const char* cause;
    } cases[] = {
        {"DQBUF ENODEV", false, ENODEV, "/dev/video0: No such device"},
        {"DQBUF EIO", false, EIO, "/dev/video0: Input/output error"},
        {"DQBUF ENXIO", false, ENXIO, "/dev/video0: No such device or address"},
        {"poll error", true, 0, "/dev/video0: the camera stopped answering"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig r;
        ASSERT_TRUE(r.driver.connect().ok);
        r.fake->produceGrey(100);
        ASSERT_EQ(r.grab(), GrabStatus::NewFrame);

        r.fake->produceGrey(7);
        if (c.pollOnly) {
            r.fake->unplugged = ENODEV;
            r.fake->failures[VIDIOC_DQBUF] = EAGAIN;
        } else {
            r.fake->failures[VIDIOC_DQBUF] = c.err;
        }
        EXPECT_EQ(r.grab(), GrabStatus::Lost);
        EXPECT_EQ(r.error, c.cause);
        EXPECT_EQ(r.centre(), rgbWord(100, 100, 100));  // the picture stays as it was
        EXPECT_FALSE(r.driver.connected());
        EXPECT_EQ(r.fake->openFds, 0);
        EXPECT_EQ(r.fake->mappings, 0);
        EXPECT_EQ(r.grab(), GrabStatus::NoFrame);

        // Plugged in again.
        r.fake->unplugged = 0;
        r.fake->failures.clear();
        const CaptureStatus again = r.driver.connect();
        ASSERT_TRUE(again.ok) << again.error;
        r.fake->produceGrey(55);
        ASSERT_EQ(r.grab(), GrabStatus::NewFrame);
        EXPECT_EQ(r.centre(), rgbWord(55, 55, 55));
    }
}

TEST(V4l2Driver, UnpluggedAtAnyCallIsLostCleanlyAndComesBack)
{
    // Connect, three frames, another format, a frame: the camera is pulled
    // out at each call of it in turn. Whatever failed says why, nothing stays
    // open or mapped once the camera is lost, and plugged in again it gives
    // frames.
    auto run = [](Rig& r) {
        if (!r.driver.connect().ok)
            return;
        for (int i = 0; i < 3; ++i) {
            r.fake->produceGrey(uint8_t(50 + i));
            if (r.grab() == GrabStatus::Lost)
                return;
        }
        if (!r.driver.setFormat(1).ok)
            return;
        r.fake->produceGrey(60);
        r.grab();
    };
    Rig whole;
    run(whole);
    ASSERT_GT(whole.fake->calls, 20);
    RecordProperty("unplug_points", whole.fake->calls + 1);
    for (int k = 0; k <= whole.fake->calls; ++k) {
        SCOPED_TRACE("unplugged at call " + std::to_string(k));
        Rig r;
        r.fake->unplugAfterCalls = k;
        run(r);
        if (r.driver.connected() && r.grab() == GrabStatus::Lost) {
            EXPECT_FALSE(r.error.empty());
        }
        if (!r.driver.connected()) {
            EXPECT_EQ(r.fake->openFds, 0);
            EXPECT_EQ(r.fake->mappings, 0);
        }
        r.fake->unplugged = 0;
        r.fake->unplugAfterCalls = -1;
        r.driver.disconnect();
        EXPECT_EQ(r.fake->openFds, 0);
        EXPECT_EQ(r.fake->mappings, 0);
        const CaptureStatus again = r.driver.connect();
        ASSERT_TRUE(again.ok) << again.error;
        r.fake->produceGrey(77);
        EXPECT_EQ(r.grab(), GrabStatus::NewFrame);
        EXPECT_EQ(r.centre(), rgbWord(77, 77, 77));
    }
}

TEST(V4l2Driver, ACameraHeldElsewhereRefusesToConnectAndSaysWhy)
{
    for (unsigned long request : {0ul, VIDIOC_S_FMT, VIDIOC_REQBUFS, VIDIOC_STREAMON}) {
        SCOPED_TRACE(request);
        Rig r;
        if (request == 0)
            r.camera.openError = EBUSY;
        else
            r.fake->failures[request] = EBUSY;
        const CaptureStatus s = r.driver.connect();
        EXPECT_FALSE(s.ok);
        EXPECT_EQ(s.error, "/dev/video0: Device or resource busy");
        EXPECT_EQ(s.errnum, EBUSY);
        EXPECT_FALSE(r.driver.connected());
        EXPECT_EQ(r.fake->openFds, 0);
        EXPECT_EQ(r.fake->mappings, 0);
        EXPECT_FALSE(r.fake->streaming);
    }
}

TEST(V4l2Driver, ListsAndSetsTheCameraControls)
{
    Rig r;
    const auto ctrl = [](uint32_t id, v4l2_ctrl_type type, const char* name, int min, int max, int def,
                         uint32_t flags = 0) {
        FakeCamera::Control c;
        c.query.id = id;
        c.query.type = type;
        std::strncpy(reinterpret_cast<char*>(c.query.name), name, sizeof c.query.name);
        c.query.minimum = min;
        c.query.maximum = max;
        c.query.step = 1;
        c.query.default_value = def;
        c.query.flags = flags;
        c.value = def;
        return c;
    };
    r.camera.controls = {
        ctrl(V4L2_CID_USER_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "User Controls", 0, 0, 0),
        ctrl(V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", 0, 255, 128),
        ctrl(V4L2_CID_CONTRAST, V4L2_CTRL_TYPE_INTEGER, "Contrast", 0, 255, 32, V4L2_CTRL_FLAG_DISABLED),
        ctrl(V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CTRL_TYPE_BOOLEAN, "White Balance, Automatic", 0, 1, 1),
        ctrl(V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU, "Power Line Frequency", 0, 2, 1),
        ctrl(V4L2_CID_PAN_RESET, V4L2_CTRL_TYPE_BUTTON, "Pan, Reset", 0, 0, 0),
    };
    r.camera.controls[1].value = 140;
    r.camera.controls[4].menu = {"Disabled", "50 Hz", "60 Hz"};

    EXPECT_TRUE(r.driver.controls().empty());
    ASSERT_TRUE(r.driver.connect().ok);
    const std::vector<CaptureControl> list = r.driver.controls();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].name, "Brightness");
    EXPECT_EQ(list[0].id, std::to_string(V4L2_CID_BRIGHTNESS));
    EXPECT_EQ(list[0].kind, CaptureControl::Kind::Integer);
    EXPECT_EQ(list[0].maximum, 255);
    EXPECT_EQ(list[0].defaultValue, 128);
    EXPECT_EQ(list[0].value, 140);
    EXPECT_EQ(list[1].kind, CaptureControl::Kind::Boolean);
    EXPECT_EQ(list[2].kind, CaptureControl::Kind::Menu);
    EXPECT_EQ(list[2].menu, (std::vector<std::pair<int64_t, std::string>>{{0, "Disabled"}, {1, "50 Hz"}, {2, "60 Hz"}}));
    EXPECT_EQ(list[3].kind, CaptureControl::Kind::Button);

    EXPECT_TRUE(r.driver.setControl(list[0].id, 150).ok);
    EXPECT_EQ(r.fake->control(V4L2_CID_BRIGHTNESS)->value, 150);
    EXPECT_EQ(r.driver.controls()[0].value, 150);
    const CaptureStatus range = r.driver.setControl(list[0].id, 300);
    EXPECT_FALSE(range.ok);
    EXPECT_EQ(range.errnum, ERANGE);
    EXPECT_FALSE(r.driver.setControl("brightness", 1).ok);
    EXPECT_FALSE(r.driver.setControl(list[0].id, int64_t(1) << 40).ok);
}
