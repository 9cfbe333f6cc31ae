// The entries of "Video Source" from a fake /dev.
#include <gtest/gtest.h>

#include "core/capture/fakev4l2.h"
#include "core/capture/simsky.h"
#include "core/corerig.h"

namespace {

std::vector<std::string> names(const std::vector<std::unique_ptr<CaptureDriver>>& list)
{
    std::vector<std::string> out;
    for (const auto& d : list)
        out.push_back(d->name());
    return out;
}

// A camera of another kind, as the INDI cameras will be.
class OtherCamera : public NoDriver {
public:
    explicit OtherCamera(std::string n) : name_(std::move(n)) {}
    std::string name() const override { return name_; }

private:
    std::string name_;
};

}  // namespace

TEST(CaptureDrivers, CamerasInNumericOrderThenOthersThenTheSkyPaddedToNine)
{
    CoreRig rig;
    auto fake = std::make_shared<FakeV4l2Device>();
    fake->nodes["/dev/video10"].card = "Cam ten";
    fake->nodes["/dev/video2"].card = "Cam two";
    fake->nodes["/dev/video3"].caps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;  // its metadata node
    fake->nodes["/dev/video0"].openError = EBUSY;
    fake->nodes["/dev/video1"].openError = EACCES;
    FakeScanner scanner(fake);

    std::vector<std::unique_ptr<CaptureDriver>> extra;
    extra.push_back(std::make_unique<OtherCamera>("INDI CCD"));
    auto list = captureDrivers(rig.state, rig.core.channel, scanner, std::move(extra));
    EXPECT_EQ(names(list), (std::vector<std::string>{"/dev/video0", "Cam two", "Cam ten", "INDI CCD", "Ciel simulé",
                                                     "(aucun)", "(aucun)", "(aucun)", "(aucun)"}));
    EXPECT_EQ(list[2]->device(), "/dev/video10");
    EXPECT_EQ(fake->openFds, 0);

    // The held camera says why when chosen; the padding refuses.
    const CaptureStatus held = list[0]->connect();
    EXPECT_EQ(held.error, "/dev/video0: Device or resource busy");
    EXPECT_FALSE(list[8]->connect().ok);
    std::string error;
    EXPECT_EQ(list[8]->grab(rig.state.picture, error), GrabStatus::NoFrame);
    EXPECT_TRUE(list[4]->connect().ok);
}

TEST(CaptureDrivers, TheSkyStaysWhenThereAreMoreThanEightCameras)
{
    struct Case {
        int cameras;
        int firstSky;  // index of the sky
    } cases[] = {{0, 0}, {7, 7}, {8, 8}, {12, 8}};
    for (const Case& c : cases) {
        CoreRig rig;
        auto fake = std::make_shared<FakeV4l2Device>();
        for (int i = 0; i < c.cameras; ++i)
            fake->nodes["/dev/video" + std::to_string(i)].card = "cam " + std::to_string(i);
        FakeScanner scanner(fake);
        const auto list = captureDrivers(rig.state, rig.core.channel, scanner);
        const auto n = names(list);
        ASSERT_EQ(n.size(), size_t(kCaptureEntries));
        EXPECT_EQ(n[c.firstSky], SimulatedSky::kName) << c.cameras;
        for (int i = 0; i < c.firstSky; ++i)
            EXPECT_EQ(n[i], "cam " + std::to_string(i));
    }
}
