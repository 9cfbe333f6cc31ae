// The camera's own dialogs behind "Format" and "Adjust": what a driver
// offers is listed, and a choice or a change reaches the driver at once.
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <gtest/gtest.h>

#include "core/capture/simsky.h"
#include "core/corerig.h"
#include "ui/capturedialogs.h"

namespace {

// A camera with two formats and one control of each kind.
class OfferingCamera : public NoDriver {
public:
    std::string name() const override { return "UVC Camera"; }
    std::vector<CaptureFormat> formats() override
    {
        return {{"640 x 480 YUYV", 640, 480, 0, ""}, {"320 x 240 YUYV", 320, 240, 0, ""}};
    }
    int currentFormat() const override { return format; }
    CaptureStatus setFormat(int index) override
    {
        if (refuse)
            return CaptureStatus::failure("/dev/video0: Device or resource busy");
        format = index;
        return {};
    }
    std::vector<CaptureControl> controls() override
    {
        CaptureControl gain{"9963795", "Gain", CaptureControl::Kind::Integer, 0, 255, 1, 32, gainValue};
        CaptureControl automatic{"9963788", "Auto", CaptureControl::Kind::Boolean, 0, 1, 1, 1, 1};
        CaptureControl power{"9963800", "Power line", CaptureControl::Kind::Menu, 0, 2, 1, 1, 1};
        power.menu = {{0, "Off"}, {1, "50 Hz"}, {2, "60 Hz"}};
        return {gain, automatic, power};
    }
    CaptureStatus setControl(const std::string& id, int64_t value) override
    {
        set.emplace_back(id, value);
        if (id == "9963795")
            gainValue = value;
        return {};
    }
    int format = 0;
    bool refuse = false;
    int64_t gainValue = 32;
    std::vector<std::pair<std::string, int64_t>> set;
};

}  // namespace

TEST(CaptureDialogs, FormatListsAndAppliesTheChoiceOrShowsTheRefusal)
{
    OfferingCamera camera;
    FormatDialog dialog(camera, nullptr);
    ASSERT_EQ(dialog.list()->count(), 2);
    EXPECT_EQ(dialog.list()->item(1)->text(), QStringLiteral("320 x 240 YUYV"));
    EXPECT_EQ(dialog.list()->currentRow(), 0);
    camera.refuse = true;
    dialog.list()->setCurrentRow(1);
    QPushButton* ok = dialog.findChildren<QPushButton*>().first();
    ok->click();
    EXPECT_EQ(camera.format, 0);
    EXPECT_EQ(dialog.result(), 0);  // still open, the cause shown
    camera.refuse = false;
    ok->click();
    EXPECT_EQ(camera.format, 1);
    EXPECT_EQ(dialog.result(), int(QDialog::Accepted));
}

TEST(CaptureDialogs, AdjustShowsEachControlAndAppliesItLive)
{
    OfferingCamera camera;
    AdjustDialog dialog(camera, nullptr);
    auto* gain = dialog.editor("9963795");
    ASSERT_NE(gain, nullptr);
    gain->findChild<QSlider*>()->setValue(100);
    EXPECT_EQ(camera.gainValue, 100);
    EXPECT_EQ(gain->findChild<QDoubleSpinBox*>()->value(), 100.0);
    qobject_cast<QCheckBox*>(dialog.editor("9963788"))->setChecked(false);
    auto* menu = qobject_cast<QComboBox*>(dialog.editor("9963800"));
    ASSERT_EQ(menu->count(), 3);
    EXPECT_EQ(menu->currentText(), QStringLiteral("50 Hz"));
    menu->activated(2);
    EXPECT_EQ(camera.set.back(), (std::pair<std::string, int64_t>{"9963800", 2}));
    EXPECT_EQ(camera.set[1], (std::pair<std::string, int64_t>{"9963788", 0}));

    // The simulated sky's parameters, in their own units.
    CoreRig rig;
    SimulatedSky sky(rig.state, rig.core.channel, std::string());
    ASSERT_TRUE(sky.connect().ok);
    AdjustDialog skyDialog(sky, nullptr);
    auto* fwhm = skyDialog.editor("fwhm");
    ASSERT_NE(fwhm, nullptr);
    auto* box = fwhm->findChild<QDoubleSpinBox*>();
    EXPECT_DOUBLE_EQ(box->value(), 4.5);
    box->setValue(6.0);
    EXPECT_DOUBLE_EQ(sky.params().fwhm, 6.0);
}

TEST(CaptureDialogs, TheProgramsOwnFormatsAndControlsShowUnderTheirFrenchNames)
{
    const struct {
        CaptureFormat format;
        const char* shown;
    } formats[] = {
        {{"1280 x 1024 whole, reduced", 1280, 1024, 0, "whole"}, "1280 x 1024 entier, réduit"},
        {{"Whole frame, reduced", 0, 0, 0, "whole"}, "Image entière, réduite"},
        {{"320 x 240 window, full resolution", 320, 240, 0, "window"}, "320 x 240 fenêtre, pleine résolution"},
        {{"320 x 240 window, 2 x 2 binning", 640, 480, 0, "window_binned"}, "320 x 240 fenêtre, binning 2 x 2"},
        {{"640 x 480 YUYV", 640, 480, 0, ""}, "640 x 480 YUYV"},
    };
    for (const auto& f : formats)
        EXPECT_EQ(formatText(f.format), QString::fromUtf8(f.shown)) << f.format.label;
    const std::pair<const char*, const char*> controls[] = {
        {"exposure", "Pose (s)"}, {"window_x", "Fenêtre x"},  {"window_y", "Fenêtre y"},
        {"auto_levels", "Niveaux auto"}, {"black", "Noir"}, {"white", "Blanc"},
        {"9963795", "English name"},  // a device's control keeps its own name
    };
    for (const auto& [id, shown] : controls) {
        CaptureControl c;
        c.id = id;
        c.name = "English name";
        EXPECT_EQ(controlText(c), QString::fromUtf8(shown)) << id;
    }
}
