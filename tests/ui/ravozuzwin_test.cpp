// The main window as a user meets it: where it opens, the threshold and
// inhibit controls, the slew buttons and arrow keys on each output, and the
// settings file written when it closes.
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>

#include "ptyline.h"
#include "ui/zoomwin.h"
#include "ui/messagebox_qt.h"
#include "ui/ravozuzwin.h"
#include "core/state.h"
#include "qt/guiderhost.h"
#include "core/settings/paramsfile.h"
#include "testsupport.h"

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char buf[4096];
        ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
        oldCwd_ = buf;
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);  // the settings file lives here
        setMessageBoxObserver([this](const QString& c, const QString& t) {
            messages_.push_back((c + ": " + t).toStdString());
        });
        setBeepObserver([this] { ++beeps_; });
    }
    void TearDown() override
    {
        window_.reset();
        host_.reset();
        setMessageBoxObserver({});
        setBeepObserver({});
        ASSERT_EQ(chdir(oldCwd_.c_str()), 0);
    }

    // A settings file for the output and port, then the window built on it.
    void open(int interfaceType, bool invertRa = false, bool invertDec = false)
    {
        tparam p;
        p.interfaceType = interfaceType;
        p.comPort = 0;
        p.invertRa = invertRa;
        p.invertDec = invertDec;
        const auto bytes = encodeParams(p);
        writeFile(dir_.file("qv185.dat"), std::string(bytes.begin(), bytes.end()));
        host_ = std::make_unique<GuiderHost>(state_);
        window_ = std::make_unique<RavozuzWindow>(state_, host_->core);
        window_->show();
    }

    QPushButton* button(int id) { return window_->findChild<QPushButton*>(QString::number(id)); }

    TempDir dir_;
    std::string oldCwd_;
    FakeClock clock_;
    SharedState state_{clock_};
    std::vector<std::string> messages_;
    int beeps_ = 0;
    std::unique_ptr<GuiderHost> host_;
    std::unique_ptr<RavozuzWindow> window_;
};

std::string bytesOf(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

}  // namespace

TEST(MainWindowPlacement, CentredAsIfItWere640By486)
{
    EXPECT_EQ(RavozuzWindow::initialPosition(1024, 768), QPoint(192, 141));
    EXPECT_EQ(RavozuzWindow::initialPosition(640, 480), QPoint(0, -3));
    EXPECT_EQ(RavozuzWindow::initialPosition(1920, 1080), QPoint(640, 297));
}

TEST_F(MainWindowTest, ThresholdButtonsStayWithin0To63AndRedrawTheLabel)
{
    open(VirtualLeds);
    EXPECT_EQ(state_.manualThreshold, 32);
    state_.manualThreshold = 62;
    QTest::mouseClick(button(346), Qt::LeftButton);
    QTest::mouseClick(button(346), Qt::LeftButton);
    EXPECT_EQ(state_.manualThreshold, 63);
    state_.manualThreshold = 1;
    QTest::mouseClick(button(347), Qt::LeftButton);
    QTest::mouseClick(button(347), Qt::LeftButton);
    EXPECT_EQ(state_.manualThreshold, 0);

    // The label box shows the new value: rendering "0" differs from "63".
    const QImage at0 = window_->grab(QRect(400, 192, 20, 14)).toImage();
    state_.manualThreshold = 63;
    window_->DrawLabels();
    const QImage at63 = window_->grab(QRect(400, 192, 20, 14)).toImage();
    EXPECT_NE(at0, at63);
}

TEST_F(MainWindowTest, ManualBoxStartsFromTheLastThresholdAndInhibitsFollowTheirBoxes)
{
    open(VirtualLeds);
    state_.detectionThreshold = 12;
    QTest::mouseClick(window_->manualBox, Qt::LeftButton);
    EXPECT_TRUE(state_.manualThresholdOn);
    EXPECT_EQ(state_.manualThreshold, 12);
    EXPECT_EQ(beeps_, 1);
    state_.manualThreshold = 20;
    QTest::mouseClick(window_->manualBox, Qt::LeftButton);
    EXPECT_FALSE(state_.manualThresholdOn);
    EXPECT_EQ(state_.manualThreshold, 20);

    QTest::mouseClick(window_->inhibitDecPlusBox, Qt::LeftButton);
    EXPECT_TRUE(state_.inhibitDecPlus);
    EXPECT_FALSE(state_.inhibitDecMinus);
    QTest::mouseClick(window_->inhibitDecMinusBox, Qt::LeftButton);
    QTest::mouseClick(window_->inhibitDecPlusBox, Qt::LeftButton);
    EXPECT_FALSE(state_.inhibitDecPlus);
    EXPECT_TRUE(state_.inhibitDecMinus);
}

TEST_F(MainWindowTest, SlewButtonsSendThePressAndReleaseOfEachOutput)
{
    PtyLine line;
    ASSERT_TRUE(line.ok());
    ScopedEnv com("QUORVEL_COM1", line.path());
    struct Case {
        int interfaceType;
        bool invertRa, invertDec;
        int id;
        std::string press, release;
    };
    const Case cases[] = {
        {Lx200, false, false, 348, "#:RG##:Mw#", "#:Qw#"},
        {MeadeEtx, false, false, 351, "#:Mn#", "#:Q#"},
        {RelayBox, false, true, 349, "\xFC", ""},   // "E" with DEC inverted is code 0
        {RelayBox, true, false, 350, "\xFE", ""},   // "S" with AD inverted is code 2
        {RelayBox, false, false, 351, "\xFE", ""},
        {VirtualLeds, false, false, 349, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        window_.reset();
        host_.reset();
        open(c.interfaceType, c.invertRa, c.invertDec);
        line.drain(50);
        QPushButton* b = button(c.id);
        ASSERT_NE(b, nullptr);
        QTest::mousePress(b, Qt::LeftButton);
        EXPECT_EQ(bytesOf(line.drain(50)), c.press);
        QTest::mouseRelease(b, Qt::LeftButton);
        EXPECT_EQ(bytesOf(line.drain(50)), c.release);
    }
    EXPECT_TRUE(messages_.empty());
}

TEST_F(MainWindowTest, ReleaseSendsTheStopOfTheOutputChosenAtThatMoment)
{
    PtyLine line;
    ASSERT_TRUE(line.ok());
    ScopedEnv com("QUORVEL_COM1", line.path());
    open(Lx200);
    line.drain(50);
    QTest::mousePress(button(349), Qt::LeftButton);
    EXPECT_EQ(bytesOf(line.drain(50)), "#:RG##:Me#");
    state_.params->interfaceType = MeadeEtx;
    QTest::mouseRelease(button(349), Qt::LeftButton);
    EXPECT_EQ(bytesOf(line.drain(50)), "#:Q#");
}

TEST_F(MainWindowTest, ArrowKeysOnTheRelayBoxSendCount35Pairs)
{
    PtyLine line;
    ASSERT_TRUE(line.ok());
    ScopedEnv com("QUORVEL_COM1", line.path());
    open(RelayBox);
    line.drain(50);
    QTest::keyClick(window_.get(), Qt::Key_Up);
    EXPECT_EQ(bytesOf(line.drain(50)), "\x8E\x03");
    QTest::keyClick(window_.get(), Qt::Key_Left);
    EXPECT_EQ(bytesOf(line.drain(50)), std::string("\x8C\x01"));
    QTest::keyClick(window_.get(), Qt::Key_A);
    EXPECT_EQ(bytesOf(line.drain(50)), "");
}

TEST_F(MainWindowTest, ClosingWritesTheSettingsFileEvenWithoutAnyUse)
{
    open(VirtualLeds);
    state_.params->focalLength = 123.0;
    ::unlink("qv185.dat");
    window_.reset();
    const std::string bytes = readFile(dir_.file("qv185.dat"));
    ASSERT_EQ(bytes.size(), 110u);
    const auto back = decodeParams(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    EXPECT_TRUE(back.intact);
    EXPECT_EQ(back.record.focalLength, 123.0);
    EXPECT_EQ(back.record.interfaceType, VirtualLeds);
}
