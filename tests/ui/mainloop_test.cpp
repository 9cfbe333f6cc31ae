// The main window running: "Source" and the "Video Source" dialog, the
// acquisition tick on the simulated sky, the marks over the video, the mouse
// filter dragging the region, the slew buttons' stops, and whole guiding
// sessions through the real windows on each kind of output.
#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <memory>

#include "core/capture/simsky.h"
#include "core/corerig.h"
#include "core/settings/paramsfile.h"
#include "ptyline.h"
#include "testsupport.h"
#include "ui/captureview.h"
#include "ui/messagebox_qt.h"
#include "ui/mousefilter.h"
#include "ui/ravozuzwin.h"
#include "ui/selectwin.h"
#include "ui/zoomwin.h"

namespace {

class MainLoopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char buf[4096];
        ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
        oldCwd_ = buf;
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
        setMessageBoxObserver([this](const QString& c, const QString& t) {
            messages.push_back((c + ": " + t).toStdString());
        });
    }
    void TearDown() override
    {
        window.reset();
        core.reset();
        setMessageBoxObserver({});
        ASSERT_EQ(chdir(oldCwd_.c_str()), 0);
    }

    // The window over a core whose pulses end on the fake clock; "Video
    // Source" offers the simulated sky (these parameters) and "(aucun)".
    void open(int interfaceType = VirtualLeds, const std::string& sky = "noise=1,seeing=0.1")
    {
        tparam p;
        p.interfaceType = interfaceType;
        const auto bytes = encodeParams(p);
        writeFile(dir_.file("qv185.dat"), std::string(bytes.begin(), bytes.end()));
        core = std::make_unique<GuiderCore>(state, timer);
        timer.machine = &core->pulses;
        core->acquisition.setScan([this, sky] {
            CaptureDriverList list;
            list.push_back(std::make_unique<SimulatedSky>(state, core->channel, sky));
            while (list.size() < 9)
                list.push_back(std::make_unique<NoDriver>());
            return list;
        });
        window = std::make_unique<RavozuzWindow>(state, *core);
        window->show();
        window->takeFocus();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    // Presses "Source" and answers the dialog by choosing `row` (or
    // cancelling); returns the entries the dialog listed.
    QStringList source(int row, bool ok = true)
    {
        QStringList entries;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<tselectwin*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            poll.stop();
            for (int i = 0; i < dialog->driverList()->count(); ++i)
                entries << dialog->driverList()->item(i)->text();
            if (ok) {
                dialog->driverList()->setCurrentRow(row);
                dialog->findChild<QPushButton*>("okButton")->click();
            } else {
                dialog->findChild<QPushButton*>("cancelButton")->click();
            }
        });
        poll.start(5);
        QTest::mouseClick(window->findChild<QPushButton*>("400"), Qt::LeftButton);
        return entries;
    }

    // Lets ms pass on the fake clock: pulses end on time (5 ms steps) and
    // the acquisition timer ticks every 200 ms.
    void run(int64_t ms)
    {
        for (int64_t t = 0; t < ms; t += 5) {
            clock.advanceMs(5);
            timer.fireDue(clock);
            if ((clock.nowUs() / 1000) % 200 == 0)
                window->AcquisitionTick();
        }
    }

    // Sends a mouse event to the main window through its window, as the
    // window system does, at a position of one of its widgets.
    void mouseOn(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButtons buttons)
    {
        const QPoint local = widget->mapTo(window.get(), at);
        const QPoint global = window->mapToGlobal(local);
        QMouseEvent e(type, QPointF(local), QPointF(global), Qt::LeftButton, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(window->windowHandle(), &e);
    }
    void mouseOnVideo(QEvent::Type type, QPoint video, Qt::MouseButtons buttons)
    {
        mouseOn(window->captureView, type, video, buttons);
    }

    TempDir dir_;
    std::string oldCwd_;
    FakeClock clock;
    SharedState state{clock};
    FakePulseTimer timer;
    std::unique_ptr<GuiderCore> core;
    std::unique_ptr<RavozuzWindow> window;
    std::vector<std::string> messages;
};

int brightPixels(const Picture& p)
{
    int n = 0;
    for (uint32_t v : p.bits)
        n += ((v >> 8) & 0xff) > 200;
    return n;
}

}  // namespace

TEST_F(MainLoopTest, SourceListsNineEntriesAndConnectsOrSaysPasDeCamera)
{
    open();
    EXPECT_FALSE(window->captureView->isVisible());
    EXPECT_FALSE(window->loop.active());

    // "(aucun)": refused, the empty capture window shown, no timer.
    const QStringList entries = source(1);
    ASSERT_EQ(entries.size(), 9);
    EXPECT_EQ(entries[0], QStringLiteral("Ciel simulé"));
    EXPECT_EQ(entries[8], QStringLiteral("(aucun)"));
    EXPECT_EQ(state.driverIndex, 1);
    EXPECT_EQ(messages, (std::vector<std::string>{"ERREUR: Pas de caméra"}));
    EXPECT_FALSE(state.captureRunning);
    EXPECT_TRUE(window->captureView->isVisible());
    EXPECT_FALSE(window->loop.active());

    // The sky: connected, timer 200 ms running, frames arrive at each tick.
    clock.advanceMs(3000);
    source(0);
    EXPECT_TRUE(state.captureRunning);
    EXPECT_EQ(state.lastAnalysisTime, 3000);
    EXPECT_TRUE(window->loop.active());
    EXPECT_EQ(window->loop.intervalMs(), 200);
    run(200);
    EXPECT_GT(brightPixels(state.picture), 5);
    const QImage shown = window->captureView->grab().toImage();
    EXPECT_GT(qGray(shown.pixel(160, 120)), 200);  // the guide star, live

    // Cancel reconnects the entry chosen before; the timer goes on.
    source(5, false);
    EXPECT_EQ(state.driverIndex, 0);
    EXPECT_TRUE(state.captureRunning);
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(MainLoopTest, MarksArePaintedOverTheFrameNeverIntoIt)
{
    open(VirtualLeds, "noise=0,seeing=0,hot_pixels=0");
    source(0);
    run(200);
    const auto shown = [this] { return window->captureView->grab().toImage(); };
    const auto inverted = [](const Picture& frame, const QImage& image, int x, int y) {
        return (frame.at(x, y) ^ 0x00ffffff) == (image.pixel(x, y) | 0xff000000u);
    };
    // The square's lines one pixel outside the region, inverted on the screen.
    QImage image = shown();
    EXPECT_TRUE(inverted(state.picture, image, 150, 69));
    EXPECT_TRUE(inverted(state.picture, image, 109, 120));
    EXPECT_TRUE(inverted(state.picture, image, 211, 171));
    EXPECT_EQ(image.pixel(150, 100), state.picture.at(150, 100));

    // "Mire" and a suspended guiding: the reticle through the region's
    // centre (crossing itself twice) and the red lock circle, on the screen;
    // the picture every cycle measures stays the camera's.
    QTest::mouseClick(window->zoomWindow->findChild<QCheckBox*>("449"), Qt::LeftButton);
    EXPECT_TRUE(state.reticleOn);
    core->session.startTracking();
    core->session.suspend();
    for (int i = 0; i < 8; ++i) {
        run(200);
        EXPECT_EQ(state.picture.bits, core->acquisition.lastFrame().bits);
        image = shown();
        EXPECT_TRUE(inverted(state.picture, image, 160, 5));
        EXPECT_TRUE(inverted(state.picture, image, 5, 120));
        EXPECT_EQ(image.pixel(5, 5), state.picture.at(5, 5));
        EXPECT_EQ(image.pixel(160, 120), state.picture.at(160, 120)) << "crossed twice";
        EXPECT_EQ(image.pixel(state.referenceX + 5, state.referenceY), qRgb(255, 0, 0));
    }
    // The measured region holds no reticle: its centre column is the sky's,
    // not a line of inverted pixels.
    int bright = 0;
    for (int row = 0; row < 100; ++row)
        bright += core->session.analysis.zoomFrame[size_t(row) * 100 + 50] > 40;
    EXPECT_LT(bright, 12);
    EXPECT_GT(state.population, 0);
}

TEST_F(MainLoopTest, DraggingTheRegionFollowsThePointerWithinItsBounds)
{
    open();
    source(0);
    run(200);
    // Press at (10, 10): the region's corner at (2, 2); the release there
    // does not move it again.
    mouseOnVideo(QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton);
    EXPECT_EQ(state.regionX, 2);
    EXPECT_EQ(state.regionY, 2);
    EXPECT_TRUE(window->mouseFilter->dragging());
    mouseOnVideo(QEvent::MouseMove, {200, 150}, Qt::LeftButton);
    EXPECT_EQ(state.regionX, 150);
    EXPECT_EQ(state.regionY, 100);
    mouseOnVideo(QEvent::MouseButtonRelease, {200, 150}, Qt::NoButton);
    EXPECT_FALSE(window->mouseFilter->dragging());
    mouseOnVideo(QEvent::MouseMove, {60, 60}, Qt::NoButton);
    EXPECT_EQ(state.regionX, 150);

    // The square moved with the region at once: no mark left at the old place.
    const QImage moved = window->captureView->grab().toImage();
    EXPECT_EQ(moved.pixel(150, 99), state.picture.at(150, 99) ^ 0x00ffffff);
    EXPECT_EQ(moved.pixel(2 + 50, 1), state.picture.at(2 + 50, 1));

    // Released outside the video: dragging goes on with no button held.
    mouseOnVideo(QEvent::MouseButtonPress, {310, 230}, Qt::LeftButton);
    EXPECT_EQ(state.regionX, 218);
    EXPECT_EQ(state.regionY, 138);
    mouseOnVideo(QEvent::MouseButtonRelease, {400, 100}, Qt::NoButton);
    EXPECT_TRUE(window->mouseFilter->dragging());
    mouseOnVideo(QEvent::MouseMove, {160, 120}, Qt::NoButton);
    EXPECT_EQ(state.regionX, 110);

    // While tracking the lock stays 10 to 90 pixels inside the region.
    mouseOnVideo(QEvent::MouseButtonRelease, {160, 120}, Qt::NoButton);
    state.trackingOn = true;
    state.referenceX = 150;
    state.referenceY = 100;
    mouseOnVideo(QEvent::MouseButtonPress, {300, 200}, Qt::LeftButton);
    EXPECT_EQ(state.regionX, 140);
    EXPECT_EQ(state.regionY, 90);
    mouseOnVideo(QEvent::MouseButtonRelease, {300, 200}, Qt::NoButton);
    state.trackingOn = false;

    // "Format" takes the filter away around the camera's dialog.
    QTimer::singleShot(50, [this] {
        EXPECT_FALSE(window->mouseFilter->installed());
        if (QWidget* modal = QApplication::activeModalWidget())
            static_cast<QDialog*>(modal)->reject();
    });
    QTest::mouseClick(window->findChild<QPushButton*>("401"), Qt::LeftButton);
    EXPECT_TRUE(window->mouseFilter->installed());
}

// A slew button held down always hears of its release, wherever the pointer
// is let go, and losing the focus or closing the window also stops it.
TEST_F(MainLoopTest, SlewButtonsAlwaysSendTheirStop)
{
    PtyLine pty;
    ASSERT_TRUE(pty.ok());
    ScopedEnv com1("QUORVEL_COM1", pty.path());
    open(Lx200);
    source(0);
    run(200);
    pty.drain(50);
    QPushButton* north = window->findChild<QPushButton*>("351");
    ASSERT_NE(north, nullptr);

    // Pressed and then released over the video while capture runs.
    mouseOn(north, QEvent::MouseButtonPress, {12, 12}, Qt::LeftButton);
    EXPECT_EQ(bytesOf("#:RG##:Mn#"), pty.read(10));
    mouseOnVideo(QEvent::MouseMove, {100, 100}, Qt::LeftButton);
    mouseOnVideo(QEvent::MouseButtonRelease, {100, 100}, Qt::NoButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(pty.read(5, 500), bytesOf("#:Qn#"));

    // The window loses the focus while the button is held.
    QTest::mousePress(north, Qt::LeftButton);
    pty.drain(50);
    QEvent deactivate(QEvent::ActivationChange);
    window->clearFocus();
    QWidget other;
    other.show();
    other.activateWindow();
    QCoreApplication::processEvents();
    if (window->isActiveWindow())
        QCoreApplication::sendEvent(window.get(), &deactivate);
    EXPECT_EQ(pty.read(5, 500), bytesOf("#:Qn#"));

    // Closed with the button held.
    QTest::mousePress(north, Qt::LeftButton);
    pty.drain(50);
    window.reset();
    EXPECT_EQ(pty.read(5, 500), bytesOf("#:Qn#"));
}

// Whole sessions through the windows: connect, "Track", guide; the star is
// held near its lock while the unguided sky drifts and wobbles.
TEST_F(MainLoopTest, GuidingSessionsHoldTheStarOnEveryOutput)
{
    struct Case { int interfaceType; bool pty; };
    for (const Case c : {Case{VirtualLeds, false}, Case{Lx200, true}, Case{RelayBox, true}}) {
        SCOPED_TRACE(c.interfaceType);
        PtyLine pty;
        ScopedEnv com1("QUORVEL_COM1", pty.path());
        window.reset();
        core.reset();
        messages.clear();
        open(c.interfaceType, "seed=3,drift_x=6,drift_y=-4,pe_amplitude=1.5,pe_period=60");
        source(0);
        run(2600);  // two cycles: the threshold is learned
        QTest::mouseClick(window->zoomWindow->findChild<QPushButton*>("450"), Qt::LeftButton);
        ASSERT_TRUE(state.trackingOn);
        const int lockX = state.referenceX, lockY = state.referenceY;

        // Follow the guiding error of each cycle for three minutes.
        std::vector<int> errors;
        const int listener = core->session.addListener([&](const SessionEvent& e) {
            if (e.kind == SessionEvent::Kind::Cycle && e.cycle->tracking)
                errors.push_back(std::max(std::abs(e.cycle->dx), std::abs(e.cycle->dy)));
        });
        run(180000);
        core->session.removeListener(listener);
        ASSERT_GT(errors.size(), 140u);
        int worst = 0;
        for (size_t i = 10; i < errors.size(); ++i)
            worst = std::max(worst, errors[i]);
        EXPECT_LE(worst, 2);
        EXPECT_EQ(state.referenceX, lockX);
        EXPECT_EQ(state.referenceY, lockY);
        EXPECT_TRUE(messages.empty());
        core->session.stopTracking();  // the next output's session starts from "Track" off
        if (c.pty) {
            // What the mount received on the line is what was sent.
            const std::vector<uint8_t> wire = pty.drain(200);
            EXPECT_GT(wire.size(), 100u);
            if (c.interfaceType == RelayBox)
                EXPECT_EQ(std::string(wire.begin(), wire.end()).substr(0, 2).size(), 2u);
            else
                EXPECT_EQ(std::string(wire.begin(), wire.begin() + 5), "#:Qe#");
        }
    }
}
