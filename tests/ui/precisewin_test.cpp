// The precise mode in the windows: the video's menu opened by a right press
// (never a drag of the region), its commands reaching the precise mode, the
// refusal of a calibration in a message box, and the "Guidage précis"
// window's French texts following the status.
#include <QAction>
#include <QApplication>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>

#include "core/capture/simsky.h"
#include "core/corerig.h"
#include "core/guider.h"
#include "core/settings/paramsfile.h"
#include "testsupport.h"
#include "ui/captureview.h"
#include "ui/messagebox_qt.h"
#include "ui/mousefilter.h"
#include "ui/precisewin.h"
#include "ui/ravozuzwin.h"
#include "ui/selectwin.h"

namespace {

class PreciseWindowTest : public ::testing::Test {
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
        const auto bytes = encodeParams(tparam{});
        writeFile(dir_.file("qv185.dat"), std::string(bytes.begin(), bytes.end()));
        core = std::make_unique<GuiderCore>(state, timer);
        timer.machine = &core->pulses;
        core->acquisition.setScan([this] {
            CaptureDriverList list;
            list.push_back(std::make_unique<SimulatedSky>(state, core->channel, "noise=1,seeing=0.1"));
            while (list.size() < 9)
                list.push_back(std::make_unique<NoDriver>());
            return list;
        });
        window = std::make_unique<RavozuzWindow>(state, *core);
        window->show();
        window->takeFocus();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override
    {
        if (window)
            window->videoMenu->hide();
        window.reset();
        core.reset();
        setMessageBoxObserver({});
        ASSERT_EQ(chdir(oldCwd_.c_str()), 0);
    }

    // "Source", then "Ciel simulé" in its dialog, and a first frame.
    void connectSky()
    {
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<tselectwin*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            poll.stop();
            dialog->driverList()->setCurrentRow(0);
            dialog->findChild<QPushButton*>("okButton")->click();
        });
        poll.start(5);
        QTest::mouseClick(window->findChild<QPushButton*>("400"), Qt::LeftButton);
        ASSERT_TRUE(state.captureRunning);
        for (int t = 0; t < 1200; t += 200) {
            clock.advanceMs(200);
            window->AcquisitionTick();
        }
    }

    // A mouse event over the video, delivered to the main window's window as
    // the window system does (so the application's mouse filter sees it).
    void mouseOnVideo(QEvent::Type type, QPoint video, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        const QPoint local = window->captureView->mapTo(window.get(), video);
        const QPoint global = window->mapToGlobal(local);
        QMouseEvent e(type, QPointF(local), QPointF(global), button, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(window->windowHandle(), &e);
    }
    void rightClickOnVideo(QPoint video)
    {
        mouseOnVideo(QEvent::MouseButtonPress, video, Qt::RightButton, Qt::RightButton);
        mouseOnVideo(QEvent::MouseButtonRelease, video, Qt::RightButton, Qt::NoButton);
    }
    // Clicks the menu's item as a user does, through the open menu's window
    // (where the mouse filter sees it: the menu lies over the video).
    void choose(QAction* action)
    {
        QMenu* menu = window->videoMenu;
        ASSERT_TRUE(menu->isVisible());
        ASSERT_NE(menu->windowHandle(), nullptr);
        const QPoint local = menu->actionGeometry(action).center();
        const QPoint global = menu->mapToGlobal(local);
        for (auto [type, buttons] : {std::pair{QEvent::MouseMove, Qt::MouseButtons(Qt::NoButton)},
                                     std::pair{QEvent::MouseButtonPress, Qt::MouseButtons(Qt::LeftButton)},
                                     std::pair{QEvent::MouseButtonRelease, Qt::MouseButtons(Qt::NoButton)}}) {
            QMouseEvent e(type, QPointF(local), QPointF(global),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
            QCoreApplication::sendEvent(menu->windowHandle(), &e);
        }
    }
    const PreciseStatus& status() const { return core->precise.status(); }

    TempDir dir_;
    std::string oldCwd_;
    FakeClock clock;
    SharedState state{clock};
    FakePulseTimer timer;
    std::unique_ptr<GuiderCore> core;
    std::unique_ptr<RavozuzWindow> window;
    std::vector<std::string> messages;
};

}  // namespace

TEST(PreciseStatusLines, SayTheModeTheCalibrationAndTheErrorInFrench)
{
    using Calib = PreciseStatus::Calib;
    PreciseStatus off;
    EXPECT_EQ(preciseStatusLines(off),
              QStringList({"Guidage précis : désactivé", "Calibration : aucune", "Erreur : -"}));

    struct Step {
        const char* step;
        const char* shown;
    };
    for (const Step& c : {Step{"West 3", "Calibration : Ouest 3"}, Step{"East 12", "Calibration : Est 12"},
                          Step{"Backlash 2", "Calibration : Jeu DEC 2"}, Step{"North 1", "Calibration : Nord 1"},
                          Step{"South 4", "Calibration : Sud 4"}, Step{"", "Calibration : en cours"}}) {
        PreciseStatus s;
        s.on = true;
        s.calib = Calib::Running;
        s.step = c.step;
        const QStringList lines = preciseStatusLines(s);
        EXPECT_EQ(lines.value(0), QStringLiteral("Guidage précis : activé"));
        EXPECT_EQ(lines.value(1), QString::fromUtf8(c.shown)) << c.step;
        EXPECT_EQ(lines.size(), 3) << "no result while it runs";
    }

    PreciseStatus failed;
    failed.calib = Calib::Failed;
    failed.errorFr = "Calibration DEC impossible : l'étoile n'a bougé que de 2,1 px";
    EXPECT_EQ(preciseStatusLines(failed).mid(1, 2),
              QStringList({"Calibration : échec", "Calibration DEC impossible : l'étoile n'a bougé que de 2,1 px"}));

    // A result, with the decimal comma, the reversed axes and the last
    // error signed in hundredths of a pixel.
    PreciseStatus done;
    done.on = true;
    done.calib = Calib::Done;
    done.calibrated = true;
    done.angleDeg = -34.96;
    done.raRatePxS = 4.126;
    done.decRatePxS = 3.9;
    done.orthoErrDeg = 1.24;
    done.raFlipped = true;
    done.haveError = true;
    done.errX = 0.234;
    done.errY = -0.114;
    EXPECT_EQ(preciseStatusLines(done),
              QStringList({"Guidage précis : activé", "Calibration : terminée", "Angle de la caméra : -35,0°",
                           "Vitesses : AD 4,13 px/s  DEC 3,90 px/s", "Axes inversés : AD",
                           "Erreur d'orthogonalité : 1,2°", "Erreur : X +0,23 px  Y -0,11 px"}));
    struct Flip {
        bool ra, dec;
        const char* shown;
    };
    for (const Flip& f : {Flip{false, false, "Axes inversés : aucun"}, Flip{false, true, "Axes inversés : DEC"},
                          Flip{true, true, "Axes inversés : AD et DEC"}}) {
        done.raFlipped = f.ra;
        done.decFlipped = f.dec;
        EXPECT_TRUE(preciseStatusLines(done).contains(QString::fromUtf8(f.shown))) << f.shown;
    }
    done.errX = -0.001;
    done.errY = 0.005;
    EXPECT_EQ(preciseStatusLines(done).last(), QStringLiteral("Erreur : X +0,00 px  Y +0,01 px"));

    // A calibration kept from before: shown, and said not to fit when the
    // output, the camera or the scale changed.
    PreciseStatus kept = done;
    kept.calib = Calib::None;
    EXPECT_EQ(preciseStatusLines(kept).value(1), QStringLiteral("Calibration : enregistrée"));
    kept.calibrated = false;
    kept.angleDeg = 0;
    EXPECT_EQ(preciseStatusLines(kept).value(1), QStringLiteral("Calibration : aucune"));
}

TEST_F(PreciseWindowTest, RightPressOnTheVideoOpensTheMenuAndNeverMovesTheRegion)
{
    connectSky();
    const int x = state.regionX, y = state.regionY;
    mouseOnVideo(QEvent::MouseButtonPress, {20, 30}, Qt::RightButton, Qt::RightButton);
    EXPECT_FALSE(window->videoMenu->isVisible()) << "opened on the release";
    mouseOnVideo(QEvent::MouseButtonRelease, {20, 30}, Qt::RightButton, Qt::NoButton);
    ASSERT_TRUE(window->videoMenu->isVisible());
    EXPECT_FALSE(window->mouseFilter->dragging());
    EXPECT_EQ(state.regionX, x);
    EXPECT_EQ(state.regionY, y);
    QStringList texts;
    for (QAction* a : window->videoMenu->actions())
        if (!a->isSeparator())
            texts << a->text();
    EXPECT_EQ(texts, QStringList({"Guidage précis", "Calibrer", "Inverser la calibration (retournement au méridien)",
                                  "Oublier la calibration"}));
    // A click on the open menu, over the video, is the menu's: it does not
    // drag the region.
    choose(window->flipAction);
    EXPECT_FALSE(window->videoMenu->isVisible());
    EXPECT_FALSE(window->mouseFilter->dragging());
    EXPECT_EQ(state.regionX, x);
    EXPECT_EQ(state.regionY, y);

    // The left button still drags as before.
    mouseOnVideo(QEvent::MouseButtonPress, {200, 150}, Qt::LeftButton, Qt::LeftButton);
    mouseOnVideo(QEvent::MouseButtonRelease, {200, 150}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(state.regionX, 150);
    EXPECT_EQ(state.regionY, 100);
    // No menu outside the video, none over it while a drag goes on.
    rightClickOnVideo({330, 100});
    EXPECT_FALSE(window->videoMenu->isVisible());
    mouseOnVideo(QEvent::MouseButtonPress, {100, 100}, Qt::LeftButton, Qt::LeftButton);
    mouseOnVideo(QEvent::MouseButtonRelease, {400, 100}, Qt::LeftButton, Qt::NoButton);
    ASSERT_TRUE(window->mouseFilter->dragging());
    rightClickOnVideo({60, 60});
    EXPECT_FALSE(window->videoMenu->isVisible());
}

TEST_F(PreciseWindowTest, MenuCommandsReachThePreciseModeAndItsWindowFollows)
{
    connectSky();
    EXPECT_FALSE(window->preciseWindow->isVisible());
    int changes = 0;
    const int id = core->precise.addListener([&] { ++changes; });

    rightClickOnVideo({100, 100});
    EXPECT_FALSE(window->preciseAction->isChecked());
    choose(window->preciseAction);
    EXPECT_TRUE(core->precise.on());
    EXPECT_TRUE(window->preciseWindow->isVisible()) << "shown when the mode goes on";
    EXPECT_EQ(window->preciseWindow->windowTitle(), QStringLiteral("Guidage précis"));
    EXPECT_EQ(window->preciseWindow->lines().value(0), QStringLiteral("Guidage précis : activé"));

    // Switched off elsewhere: the menu's check mark says so.
    core->precise.setOn(false);
    EXPECT_EQ(window->preciseWindow->lines().value(0), QStringLiteral("Guidage précis : désactivé"));
    rightClickOnVideo({100, 100});
    EXPECT_FALSE(window->preciseAction->isChecked());
    choose(window->preciseAction);
    EXPECT_TRUE(core->precise.on());
    rightClickOnVideo({100, 100});
    EXPECT_TRUE(window->preciseAction->isChecked());
    choose(window->preciseAction);
    EXPECT_FALSE(core->precise.on());

    // "Calibrer" on the star in the region: the calibration runs, the window
    // (closed meanwhile) shows again with its step in French, no message box.
    window->preciseWindow->close();
    rightClickOnVideo({100, 100});
    choose(window->calibrateAction);
    EXPECT_TRUE(messages.empty()) << status().errorFr;
    EXPECT_EQ(status().calib, PreciseStatus::Calib::Running);
    EXPECT_TRUE(window->preciseWindow->isVisible());
    EXPECT_TRUE(window->preciseWindow->lines().value(1).startsWith(QStringLiteral("Calibration : Ouest")))
        << window->preciseWindow->lines().value(1).toStdString();

    const int before = changes;
    rightClickOnVideo({100, 100});
    choose(window->forgetAction);
    EXPECT_GT(changes, before);
    EXPECT_FALSE(status().calibrated);
    core->precise.removeListener(id);
}

TEST_F(PreciseWindowTest, CalibrerThatCannotStartSaysWhyInAnErreurBox)
{
    // No camera: the precise mode refuses, and the box gives its French reason.
    window->calibrateAction->trigger();
    EXPECT_EQ(status().calib, PreciseStatus::Calib::Failed);
    ASSERT_FALSE(status().errorFr.empty());
    EXPECT_EQ(messages, std::vector<std::string>{"ERREUR: " + status().errorFr});
    EXPECT_FALSE(window->preciseWindow->isVisible()) << "a refusal is the box's alone";
    EXPECT_EQ(window->preciseWindow->lines().value(1), QStringLiteral("Calibration : échec"));
    EXPECT_EQ(window->preciseWindow->lines().value(2), QString::fromStdString(status().errorFr));
}
