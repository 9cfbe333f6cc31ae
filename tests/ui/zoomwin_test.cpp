// The analysis panel as a user meets it: construction, the controls' effects
// and texts, the focus going back to the main window, and the zoom picture
// read back from the screen.
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "core/corerig.h"
#include "ptyline.h"
#include "ui/messagebox_qt.h"
#include "ui/zoomwin.h"
#include "core/settings/paramsfile.h"
#include "testsupport.h"

namespace {

class CountingMainWindow : public RavozuzMainWindow {
public:
    void DrawLabels() override { ++labelDraws; }
    int labelDraws = 0;
};

bool isColour(const QImage& img, int x, int y, QRgb rgb) { return (img.pixel(x, y) & 0xffffff) == (rgb & 0xffffff); }

int countColour(const QImage& img, const QRect& area, QRgb rgb)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += isColour(img, x, y, rgb);
    return n;
}

// Pixels of the labels' yellow (240, 240, 0), antialiased or not.
int countLabelYellow(const QImage& img, const QRect& area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = img.pixelColor(x, y);
            n += c.red() > 0 && c.red() == c.green() && c.blue() == 0;
        }
    return n;
}

// Region pixel (i, j) shows as the 2 x 2 block from window pixel (111 + 2i, 251 + 2j).
bool blockIs(const QImage& img, int i, int j, QRgb rgb)
{
    return countColour(img, QRect(111 + 2 * i, 251 + 2 * j, 2, 2), rgb) == 4;
}

constexpr QRgb kYellow = 0xffff00, kRed = 0xff0000, kWhite = 0xffffff, kBlack = 0;
const QRect kWindow(0, 0, 320, 460);

// A grey picture pixel of this level (grey v reads as level v / 4).
uint32_t levelPixel(int level) { return rgbWord(4 * level, 4 * level, 4 * level); }

class ZoomWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::current_path(dir_.path());  // the settings file is read from here
        setMessageBoxObserver([this](const QString& caption, const QString& text) {
            messages.push_back((caption + ": " + text).toStdString());
        });
        setBeepObserver([this] { ++beeps; });
    }

    void TearDown() override
    {
        main.reset();  // the windows go before the core they use
        core.reset();
        setMessageBoxObserver({});
        setBeepObserver({});
        std::filesystem::current_path(oldCwd_);
    }

    void build(int interfaceType = VirtualLeds, int comPort = 0)
    {
        main.reset();
        core.reset();
        tparam rec;
        rec.interfaceType = interfaceType;
        rec.comPort = comPort;
        const auto bytes = encodeParams(rec);
        writeFile(dir_.file(kSettingsFileName), std::string(bytes.begin(), bytes.end()));
        core = std::make_unique<GuiderCore>(state, timer);
        timer.machine = &core->pulses;
        main = std::make_unique<CountingMainWindow>();
        main->setFixedSize(539, 464);
        zoom = new tzoomwin(state, *core, drawing, main.get());
        main->show();
        main->takeFocus();
        ASSERT_TRUE(QTest::qWaitForWindowActive(main.get()));
    }

    QPushButton* button(int id) { return zoom->findChild<QPushButton*>(QString::number(id)); }
    QCheckBox* checkBox(int id) { return zoom->findChild<QCheckBox*>(QString::number(id)); }
    void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(w->width() / 2, w->height() / 2)); }
    QImage shown() { return zoom->grab().toImage(); }

    // Presses "Param" and closes the dialog with Cancel once it is up;
    // returns the dialog's title.
    QString paramThenCancel()
    {
        QString title;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!modal)
                return;
            poll.stop();
            title = modal->windowTitle();
            for (QPushButton* b : modal->findChildren<QPushButton*>())
                if (b->text() == QStringLiteral("Cancel"))
                    return b->click();
            ADD_FAILURE() << "no Cancel button";
            modal->reject();
        });
        poll.start(10);
        click(button(454));
        return title;
    }

    TempDir dir_;
    std::filesystem::path oldCwd_ = std::filesystem::current_path();
    ScopedEnv com1_{"QUORVEL_COM1", dir_.file("no-such-port")};
    FakeClock clock;
    SharedState state{clock};
    DrawingObjects drawing;
    FakePulseTimer timer;
    std::unique_ptr<GuiderCore> core;
    std::unique_ptr<CountingMainWindow> main;
    tzoomwin* zoom = nullptr;
    std::vector<std::string> messages;
    int beeps = 0;
};

TEST_F(ZoomWindowTest, ConstructionBuildsThePanelOnTheStartState)
{
    build();

    EXPECT_EQ(zoom->geometry(), QRect(1, 4, 320, 460));
    EXPECT_EQ(std::make_pair(state.regionX, state.regionY), std::make_pair(110, 70));
    EXPECT_FALSE(state.trackingOn || state.manualThresholdOn || zoom->analysis.useDarkFrame);
    EXPECT_TRUE(zoom->histWindow->isVisible());
    EXPECT_TRUE(zoom->trackWindow->isVisible());
    EXPECT_FALSE(zoom->graphWindow->isVisible());
    for (auto [id, text] : {std::pair{452, "Acq Noir"}, {450, "Track"}, {454, "Param"}, {455, "Photo"}}) {
        ASSERT_NE(button(id), nullptr) << id;
        EXPECT_EQ(button(id)->text().toStdString(), text);
    }
    EXPECT_EQ(button(450)->geometry(), QRect(10, 365, 75, 30));
    EXPECT_TRUE(button(455)->isEnabled());
    ASSERT_TRUE(checkBox(453) && checkBox(449));
}

TEST_F(ZoomWindowTest, OutputAppliedAtConstructionAndAgainAfterParamCancel)
{
    // COM1 names a device that does not exist: each opening is reported.
    const struct {
        int interfaceType, comPort;
        bool ledsShown;
        size_t openErrors;
        bool ledsBeforeParam;  // the other way round, to see Param set them again
    } cases[] = {
        {VirtualLeds, 0, true, 0, false},
        {RelayBox, 0, false, 1, true},
        {Lx200, 0, false, 1, false},  // the LX 200 leaves the LED window as it is
        {7, 7, false, 0, false},      // a crafted file: nothing to apply
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.interfaceType);
        messages.clear();
        build(c.interfaceType, c.comPort);
        EXPECT_EQ(zoom->optoWindow->isVisible(), c.ledsShown);
        EXPECT_EQ(messages, std::vector<std::string>(c.openErrors, "COM1: Erreur d'ouverture"));

        zoom->optoWindow->setVisible(c.ledsBeforeParam);
        EXPECT_EQ(paramThenCancel(), QStringLiteral("Paramètres"));
        EXPECT_EQ(messages.size(), 2 * c.openErrors);  // the port was opened again
        EXPECT_EQ(zoom->optoWindow->isVisible(), c.ledsShown);
        EXPECT_EQ(state.params->interfaceType, c.interfaceType);
        for (int i = 0; i < 100 && QApplication::focusWidget() != main.get(); ++i)
            QTest::qWait(10);  // the focus may come back through a later activation
        EXPECT_EQ(QApplication::focusWidget(), main.get());
        EXPECT_TRUE(zoom->findChildren<QDialog*>().isEmpty());  // destroyed after use
    }
}

TEST_F(ZoomWindowTest, ControlsGiveTheFocusBackToTheMainWindow)
{
    build();
    const struct {
        int id;
        bool reticle, useDark;
        int beeps;
    } steps[] = {{449, true, false, 0}, {453, true, true, 1}, {452, true, true, 1}, {449, false, true, 1},
                 {450, false, true, 1}, {453, false, false, 2}, {452, false, false, 2}, {450, false, false, 2}};
    for (const auto& s : steps) {
        QWidget* w = s.id == 453 || s.id == 449 ? static_cast<QWidget*>(checkBox(s.id)) : button(s.id);
        click(w);
        EXPECT_EQ(QApplication::focusWidget(), main.get()) << "after " << s.id;
        EXPECT_EQ(state.reticleOn, s.reticle) << "after " << s.id;
        EXPECT_EQ(zoom->analysis.useDarkFrame, s.useDark) << "after " << s.id;
        EXPECT_EQ(beeps, s.beeps) << "after " << s.id;
    }
}

TEST_F(ZoomWindowTest, DarkFrameIsArmedThenTakenOnTheNextTickOrASecondPress)
{
    build();
    for (bool secondPress : {true, false}) {
        SCOPED_TRACE(secondPress ? "second press" : "timer tick");
        zoom->analysis.darkFrame.fill(0);
        state.picture.fill(levelPixel(10));
        click(button(452));
        EXPECT_TRUE(state.darkPending);
        EXPECT_EQ(button(452)->text(), QStringLiteral("En cours"));
        EXPECT_EQ(zoom->analysis.darkFrame[0], 0);  // nothing captured on arming
        if (secondPress)
            click(button(452));
        else
            zoom->AcquireDark();
        EXPECT_FALSE(state.darkPending);
        EXPECT_EQ(button(452)->text(), QStringLiteral("Acq Noir"));
        EXPECT_EQ(zoom->analysis.darkFrame[0], 10);
        EXPECT_EQ(zoom->analysis.darkFrame[320 * 240 - 1], 10);
    }
}

TEST_F(ZoomWindowTest, DarkFrameSubtractionSeenInTheZoomPicture)
{
    build();
    auto background = [](int x, int y) { return (x * 7 + y * 13) % 50; };
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            state.picture.at(x, y) = levelPixel(background(x, y));
    click(button(452));
    click(button(452));
    click(checkBox(453));

    zoom->MeasureCycle();  // the live picture is the dark picture
    EXPECT_EQ(state.peakLevel, 0);
    EXPECT_EQ(state.greyHistogram[0], 100 * 100);

    state.picture.at(140, 90) = levelPixel(background(140, 90) + 10);  // region pixel (30, 20)
    zoom->MeasureCycle();
    EXPECT_EQ(state.peakLevel, 10);
    const QImage img = shown();
    EXPECT_TRUE(blockIs(img, 30, 20, 0x2b2b2b));  // level 10: grey 43
    EXPECT_TRUE(blockIs(img, 31, 20, 0x030303));
}

TEST_F(ZoomWindowTest, PaintShowsTheDecorationsAndTheZoomThroughTheGreyTable)
{
    build();
    QImage img = shown();
    const struct {
        int x, y;
        QRgb rgb;
    } decorations[] = {
        {0, 240, 0x646464},  {319, 240, 0x646464}, {5, 239, kBlack},                           // separator
        {110, 250, kWhite},  {311, 250, kWhite},   {110, 451, kWhite},  {311, 451, kWhite},   // frame
        {109, 250, kBlack},  {312, 250, kBlack},   {110, 452, kBlack},  {200, 350, kBlack},   // zoom not yet drawn
    };
    for (const auto& e : decorations)
        EXPECT_TRUE(isColour(img, e.x, e.y, e.rgb)) << e.x << "," << e.y;
    EXPECT_GT(countLabelYellow(img, QRect(30, 275, 70, 18)), 20);  // "Util. noir"
    EXPECT_GT(countLabelYellow(img, QRect(30, 345, 40, 18)), 10);  // "Mire"
    EXPECT_GT(countColour(img, QRect(30, 275, 70, 18), 0xf0f000), 0);

    const struct {
        int i, j, level;
        QRgb grey;
    } levels[] = {{0, 0, 63, 0xffffff}, {99, 99, 0, 0x030303}, {10, 90, 1, 0x070707}, {70, 5, 32, 0x838383}};
    zoom->analysis.zoomFrame.fill(0);
    for (const auto& c : levels)
        zoom->analysis.zoomFrame[(99 - c.j) * 100 + c.i] = uint8_t(c.level);  // bottom row first
    zoom->DrawZoom();  // centroid (0, 0): no cross
    img = shown();
    for (const auto& c : levels)
        EXPECT_TRUE(blockIs(img, c.i, c.j, c.grey)) << "level " << c.level;
    EXPECT_EQ(countColour(img, QRect(111, 251, 200, 200), kWhite), 4);
}

TEST_F(ZoomWindowTest, CrossArmsAroundTheCentroid)
{
    build();
    const QRect picture(111, 251, 200, 200);
    // Yellow pixels of the upper, lower, left and right arms: from the
    // picture's edges to 6 pixels from the centre, end points excluded.
    const struct {
        int cx, cy, yellow;
    } cases[] = {{50, 50, 95 + 92 + 96 + 91}, {5, 50, 95 + 92 + 0 + 181}, {96, 50, 95 + 92 + 188 + 0},
                 {0, 50, 0}, {100, 50, 0}, {50, 0, 0}, {50, 100, 0}};
    for (const auto& c : cases) {
        state.centroidX = c.cx;
        state.centroidY = c.cy;
        zoom->DrawZoom();
        EXPECT_EQ(countColour(shown(), picture, kYellow), c.yellow) << c.cx << "," << c.cy;
    }
    state.centroidX = state.centroidY = 50;
    zoom->DrawZoom();
    const QImage img = shown();
    const struct {
        int x, y;
        bool yellow;
    } points[] = {
        {213, 251, true}, {213, 345, true}, {213, 346, false}, {213, 352, false}, {213, 358, true},
        {213, 449, true}, {213, 450, false}, {111, 352, true},  {206, 352, true}, {207, 352, false},
        {219, 352, true}, {309, 352, true},  {310, 352, false},
    };
    for (const auto& p : points)
        EXPECT_EQ(isColour(img, p.x, p.y, kYellow), p.yellow) << p.x << "," << p.y;
}

TEST_F(ZoomWindowTest, LockLineAndCircleOnlyStrictlyInsideTheRegion)
{
    build();
    state.trackingOn = true;
    const struct {
        int dx, dy;
        bool drawn;
    } cases[] = {{45, 55, true}, {1, 1, true}, {99, 99, true}, {0, 50, false}, {100, 50, false}, {50, 0, false},
                 {50, 100, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "lock at " << c.dx << "," << c.dy << " in the region");
        state.referenceX = 110 + c.dx;
        state.referenceY = 70 + c.dy;
        state.centroidX = 30;
        state.centroidY = 40;
        zoom->DrawZoom();
        QImage img = shown();
        EXPECT_EQ(countColour(img, kWindow, kRed) > 0, c.drawn);
        EXPECT_EQ(isColour(img, 2 * 30 + 112, 2 * 40 + 252, kRed), c.drawn);  // the line leaves the star
        EXPECT_GT(countColour(img, kWindow, kYellow), 0);                     // the cross stays
        if (!c.drawn)
            continue;
        // Star on the lock: no line, the circle alone fills its 12 x 12 box.
        state.centroidX = c.dx;
        state.centroidY = c.dy;
        zoom->DrawZoom();
        img = shown();
        const QRect box(2 * c.dx + 106, 2 * c.dy + 246, 12, 12);
        EXPECT_EQ(countColour(img, kWindow, kRed), countColour(img, box, kRed));
        for (const QRect& edge : {QRect(box.left(), box.top(), 1, 12), QRect(box.right(), box.top(), 1, 12),
                                  QRect(box.left(), box.top(), 12, 1), QRect(box.left(), box.bottom(), 12, 1)})
            EXPECT_GT(countColour(img, edge, kRed), 0);
    }
    // A circle that reached over the frame is gone at the next cycle.
    state.trackingOn = false;
    zoom->DrawZoom();
    EXPECT_EQ(countColour(shown(), kWindow, kRed), 0);
    EXPECT_TRUE(isColour(shown(), 311, 450, kWhite));
}

TEST_F(ZoomWindowTest, LivePreviewShowsTheRawRegionMagnified)
{
    build();
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            state.picture.at(x, y) = rgbWord(x, y, x + y);
    state.regionX = 250;  // dragged partly off the right of the picture
    state.regionY = 100;
    zoom->DrawLivePreview();
    const QImage img = shown();
    for (const auto& [i, j] : {std::pair{0, 0}, {69, 99}, {12, 34}})
        EXPECT_TRUE(blockIs(img, i, j, rgbWord(250 + i, 100 + j, 350 + i + j))) << i << "," << j;
    EXPECT_TRUE(blockIs(img, 70, 0, kBlack));  // column 320 is off the picture
}

TEST_F(ZoomWindowTest, TrackTakesTheReferenceFromTheLastCentroid)
{
    build();
    state.centroidX = 40;
    state.centroidY = 60;
    zoom->graphWindow->binsX[3] = 7;
    click(button(450));
    EXPECT_TRUE(state.trackingOn);
    EXPECT_EQ(std::make_pair(state.referenceX, state.referenceY), std::make_pair(150, 130));
    EXPECT_EQ(button(450)->text(), QStringLiteral("Track ON"));
    EXPECT_TRUE(zoom->graphWindow->isVisible());
    EXPECT_EQ(zoom->graphWindow->binsX[3], 0u);  // reset on entry

    state.centroidX = 10;
    click(button(450));
    EXPECT_FALSE(state.trackingOn);
    EXPECT_EQ(std::make_pair(state.referenceX, state.referenceY), std::make_pair(150, 130));
    EXPECT_EQ(button(450)->text(), QStringLiteral("Track"));
    EXPECT_FALSE(zoom->graphWindow->isVisible());

    // "Suspend" in the energy graph stops guiding but leaves "Track ON";
    // "Track" then takes a new reference and guides again.
    click(button(450));
    zoom->graphWindow->ToggleSuspend();
    ASSERT_FALSE(state.trackingOn);
    state.centroidX = 45;
    click(button(450));
    EXPECT_TRUE(state.trackingOn);
    EXPECT_FALSE(state.graphSuspended);
    EXPECT_EQ(state.referenceX, 155);
    EXPECT_EQ(button(450)->text(), QStringLiteral("Track ON"));
}

TEST_F(ZoomWindowTest, MeasureCycleFindsAndMarksTheStar)
{
    build();
    state.picture.fill(0);
    for (int dy = -2; dy <= 2; ++dy)  // a small star on region pixel (40, 60)
        for (int dx = -2; dx <= 2; ++dx)
            state.picture.at(150 + dx, 130 + dy) = levelPixel(63 - 10 * (std::abs(dx) + std::abs(dy)));
    state.referenceX = 150;  // a lock on the star, tracking still off
    state.referenceY = 130;
    zoom->MeasureCycle();
    EXPECT_EQ(std::make_pair(state.centroidX, state.centroidY), std::make_pair(40, 60));
    EXPECT_EQ(main->labelDraws, 1);
    QImage img = shown();
    EXPECT_TRUE(blockIs(img, 40, 60, kWhite));               // the star's peak
    EXPECT_TRUE(isColour(img, 2 * 40 + 113, 251, kYellow));  // the cross's upper arm
    EXPECT_TRUE(isColour(img, 111, 2 * 60 + 252, kYellow));  // its left arm

    EXPECT_EQ(zoom->graphWindow->binsX[25], 1u);  // the energy graph counts only while tracking

    click(button(450));
    zoom->MeasureCycle();
    EXPECT_EQ(main->labelDraws, 2);
    EXPECT_EQ(zoom->graphWindow->binsX[25], 2u);  // one cycle at zero error after the reset
    EXPECT_GT(countColour(shown(), QRect(2 * 40 + 106, 2 * 60 + 246, 12, 12), kRed), 10);  // the lock circle
}

}  // namespace

TEST_F(ZoomWindowTest, PhotoButtonOpensTheDialogAndTheTimerTakesTheShots)
{
    build();
    EXPECT_TRUE(button(455)->isEnabled());
    EXPECT_TRUE(zoom->photoTimer.isActive());
    EXPECT_EQ(zoom->photoTimer.interval(), tzoomwin::kPhotoTickMs);
    ASSERT_TRUE(zoom->photoSeries.start(1, 0).ok());
    clock.advanceMs(999);
    zoom->PhotoTick();
    EXPECT_TRUE(readFile(dir_.file("Capture 0000.bmp")).empty());
    clock.advanceMs(1);
    zoom->PhotoTick();
    EXPECT_EQ(readFile(dir_.file("Capture 0000.bmp")).size(), 77882u);
    clock.advanceMs(1000);
    zoom->PhotoTick();
    EXPECT_EQ(readFile(dir_.file("Capture 0001.bmp")).size(), 77882u);

    // "Photo" runs the dialog modally; the focus comes back to the main window.
    QTimer::singleShot(0, [] {
        if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            d->reject();
    });
    click(button(455));
    EXPECT_FALSE(zoom->photoSeries.photoDialogOpen);
    EXPECT_TRUE(zoom->photoSeries.photoRunning());
}
