// The analysis panel: construction in the order the rest of the program
// relies on (settings loaded before any window reads them, output applied
// last), the measurement cycle, the dark-frame and tracking controls and the
// zoom display.
#include "ui/zoomwin.h"

#include <QCheckBox>
#include <QPainter>
#include <QPushButton>

#include <cstdio>
#include <cstring>

#include "core/measure/darkarming.h"
#include "core/settings/paramsfile.h"
#include "ui/controls.h"
#include "ui/messagebox_qt.h"
#include "ui/parawin.h"
#include "ui/photowin.h"
#include "ui/zoommarks.h"

namespace {
constexpr int kWidth = 320;
constexpr int kHeight = 460;
constexpr int kRegion = StarAnalysis::regionSize;
}  // namespace

tzoomwin::tzoomwin(SharedState& state, GuiderCore& core, const DrawingObjects& drawing, RavozuzMainWindow* parent)
    : QWidget(parent),
      analysis(core.session.analysis),
      state_(state),
      core_(core),
      drawing_(drawing),
      mainWindow(parent)
{
    setGeometry(1, 4, kWidth, kHeight);
    // Off-screen surface (what the window shows) and the zoom picture's 8-bit
    // image, through which level i shows as grey 4i + 3. They exist before
    // anything below can let the window paint (a message box of the output).
    memoryBitmap = QImage(kWidth, kHeight, QImage::Format_RGB32);
    memoryBitmap.fill(Qt::black);
    zoomHeader = QImage(kRegion, kRegion, QImage::Format_Indexed8);
    const auto table = greyPalette();
    zoomHeader.setColorTable(QList<QRgb>(table.begin(), table.end()));
    zoomHeader.fill(0);

    // The record starts from its defaults (speeds 12 and 14 arcseconds per
    // second); the file of the current directory replaces them when it holds
    // a record, and fills the working copies of the three levels.
    loadParams(state_);

    histWindow = new THistwin(state_, drawing_, parent);
    histWindow->show();
    optoWindow = new TOptowin(state_, core_.pulses, drawing_, parent);
    optoWindow->hide();
    graphWindow = new specwin(state_, core_.session, drawing_, parent);
    graphWindow->hide();
    trackWindow = new Trackwin(drawing_, parent);
    trackWindow->show();

    darkCheckBox = makeCheckBox(this, DarkBoxId, 10, 275);
    darkButton_ = makeButton(this, DarkButtonId, QString::fromUtf8(kAcquireDarkText), 10, 250, 75, 20);
    trackButton_ = makeButton(this, TrackButtonId, QStringLiteral("Track"), 10, 365, 75, 30);
    reticleCheckBox = makeCheckBox(this, ReticleBoxId, 10, 345);
    paramButton_ = makeButton(this, ParamButtonId, QStringLiteral("Param"), 10, 295, 75, 20);
    photoButton_ = makeButton(this, PhotoButtonId, QStringLiteral("Photo"), 10, 320, 75, 20);

    connect(darkCheckBox, &QCheckBox::clicked, this, &tzoomwin::useDarkFrameClicked);
    connect(darkButton_, &QPushButton::clicked, this, &tzoomwin::AcquireDark);
    connect(trackButton_, &QPushButton::clicked, this, &tzoomwin::ToggleTracking);
    connect(reticleCheckBox, &QCheckBox::clicked, this, &tzoomwin::reticleClicked);
    connect(paramButton_, &QPushButton::clicked, this, &tzoomwin::EditParameters);
    connect(photoButton_, &QPushButton::clicked, this, &tzoomwin::OpenPhotoDialog);
    photoTimer.setInterval(kPhotoTickMs);
    connect(&photoTimer, &QTimer::timeout, this, &tzoomwin::PhotoTick);
    photoTimer.start();

    core_.session.setUseDarkFrame(false);
    listener_ = core_.session.addListener([this](const SessionEvent& e) { sessionChanged(e); });
    ApplyInterface();

    paintBackground();
    show();
}

tzoomwin::~tzoomwin()
{
    core_.session.removeListener(listener_);
}

void tzoomwin::giveFocusBack()
{
    if (mainWindow)
        mainWindow->takeFocus();
}

void tzoomwin::MeasureCycle()
{
    // The session measures and, while tracking, sends the correction; the
    // windows then show what it found.
    ShowCycle(core_.session.measureCycle(state_.picture.view()));
}

void tzoomwin::ShowCycle(const CycleResult& cycle)
{
    if (mainWindow)
        mainWindow->DrawLabels();
    histWindow->Plot();
    trackWindow->ShowCorrection(cycle);
    if (cycle.tracking) {
        graphWindow->Plot();
        optoWindow->raise();
    }
    DrawZoom();
}

void tzoomwin::ApplyInterface()
{
    const InterfaceApplied applied = core_.mount.applyInterface();
    if (applied.port && !applied.port->ok) {
        showMessageBox(QString::fromStdString(applied.port->portName), QStringLiteral("Erreur d'ouverture"));
        if (!applied.port->device.empty())
            std::fprintf(stderr, "quorvel: cannot open %s (%s): %s\n", applied.port->portName.c_str(),
                         applied.port->device.c_str(), std::strerror(applied.port->error));
    }
    if (applied.output && !applied.output->ok) {
        // The INDI mount: its cause is the message.
        std::fprintf(stderr, "quorvel: %s\n", applied.output->error.c_str());
        showMessageBox(QStringLiteral("INDI (monture)"), QString::fromStdString(applied.output->error));
    }
    if (applied.ledWindow == InterfaceApplied::LedWindow::Show)
        optoWindow->show();
    else if (applied.ledWindow == InterfaceApplied::LedWindow::Hide)
        optoWindow->hide();
}

void tzoomwin::AcquireDark()
{
    core_.session.acquireDark(state_.picture.view());
    ShowDarkState();
    giveFocusBack();
}

void tzoomwin::ShowDarkState()
{
    darkButton_->setText(QString::fromUtf8(state_.darkPending ? kDarkPendingText : kAcquireDarkText));
}

void tzoomwin::useDarkFrameClicked(bool checked)
{
    beep();
    core_.session.setUseDarkFrame(checked);
    giveFocusBack();
}

void tzoomwin::reticleClicked(bool checked)
{
    state_.reticleOn = checked;
    giveFocusBack();
}

void tzoomwin::ToggleTracking()
{
    if (state_.trackingOn)
        core_.session.stopTracking();
    else
        core_.session.startTracking();
    giveFocusBack();
}

void tzoomwin::sessionChanged(const SessionEvent& e)
{
    // Whoever started or stopped tracking ("Track", or a client of the event
    // server), the button and the energy graph follow. "Suspend" and
    // "Re-start" leave them as they are.
    if (e.kind == SessionEvent::Kind::Started) {
        trackButton_->setText(QStringLiteral("Track ON"));
        graphWindow->show();
        graphWindow->ResetGraph();
    } else if (e.kind == SessionEvent::Kind::Stopped) {
        trackButton_->setText(QStringLiteral("Track"));
        graphWindow->hide();
    }
}

void tzoomwin::EditParameters()
{
    {
        tparawin dialog(state_, this);
        dialog.exec();
    }
    // Cancel too: the port is opened again either way.
    ApplyInterface();
    giveFocusBack();
}

void tzoomwin::OpenPhotoDialog()
{
    photoSeries.photoDialogOpen = true;
    {
        tphotowin dialog(state_, photoSeries, this);
        photoDialog = &dialog;
        dialog.exec();
        photoDialog = nullptr;
    }
    photoSeries.photoDialogOpen = false;
    giveFocusBack();
}

void tzoomwin::PhotoTick()
{
    // The frame as the camera gave it, without the marks drawn over it.
    const std::optional<ShotResult> shot = photoSeries.tick(state_.clock.nowMs(), core_.acquisition.lastFrame().view());
    if (!shot)
        return;
    if (!shot->ok)
        std::fprintf(stderr, "quorvel: %s\n", shot->message().c_str());
    if (photoDialog)
        photoDialog->UpdatePhotoTexts(shot->n, !shot->ok, shot->errorText);
}

void tzoomwin::paintBackground()
{
    QPainter p(&memoryBitmap);
    p.fillRect(0, 0, kWidth, kHeight, Qt::black);
    // Lines leave out their end point: the separator ends at x = 321.
    p.setPen(drawing_.greyPen);
    p.drawLine(0, 240, 321, 240);
    // White frame one pixel outside the zoom picture: x 110..311, y 250..451.
    p.setPen(QPen(Qt::white, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(zoomview::pictureLeft - 1, zoomview::pictureTop - 1, zoomview::pictureSize + 1,
               zoomview::pictureSize + 1);
    p.setPen(Colours::labelYellow);
    p.setFont(font());
    drawTextAt(p, 30, 275, QStringLiteral("Util. noir"));
    drawTextAt(p, 30, 345, QStringLiteral("Mire"));
}

void tzoomwin::DrawZoom()
{
    // The frame and its surroundings are drawn again first, so that a lock
    // circle of the last cycle that reached over the frame does not stay.
    paintBackground();
    // zoomFrame holds the bottom row first; the image holds the top row first.
    for (int row = 0; row < kRegion; ++row)
        std::memcpy(zoomHeader.scanLine(row), analysis.zoomFrame.data() + (kRegion - 1 - row) * kRegion, kRegion);
    {
        QPainter p(&memoryBitmap);
        p.drawImage(QRect(zoomview::pictureLeft, zoomview::pictureTop, zoomview::pictureSize, zoomview::pictureSize),
                    zoomHeader);
    }
    drawMarks();
    update();
}

void tzoomwin::drawMarks()
{
    const ZoomMarks marks = zoomMarks(state_.trackingOn, state_.centroidX, state_.centroidY,
                                      state_.referenceX - state_.regionX, state_.referenceY - state_.regionY);
    auto plot = [this](const LineSegment& line, QRgb colour) {
        for (const PixelPoint& pt : linePixels(line))
            if (memoryBitmap.valid(pt.x, pt.y))
                memoryBitmap.setPixel(pt.x, pt.y, colour);
    };
    if (marks.referenceLine)
        plot(*marks.referenceLine, drawing_.redPen.color().rgb());
    if (marks.referenceCircle) {
        // A 1-pixel outline over the box's pixels, right and bottom excluded.
        const CircleBox& c = *marks.referenceCircle;
        QPainter p(&memoryBitmap);
        p.setPen(drawing_.redPen);
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRect(c.left, c.top, c.right - c.left - 1, c.bottom - c.top - 1));
    }
    const QRgb yellow = drawing_.yellowPen.color().rgb();
    for (const auto& arm : {marks.crossArms.upper, marks.crossArms.lower, marks.crossArms.left, marks.crossArms.right})
        if (arm)
            plot(*arm, yellow);
}

void tzoomwin::DrawLivePreview()
{
    // Pixels of a region dragged partly off the picture show black.
    const PixelView view = state_.picture.view();
    for (int j = 0; j < kRegion; ++j) {
        for (int i = 0; i < kRegion; ++i) {
            const int x = state_.regionX + i, y = state_.regionY + j;
            const QRgb rgb = view.contains(x, y) ? view.at(x, y) : rgbWord(0, 0, 0);
            const int wx = zoomview::pictureLeft + zoomview::scale * i;
            const int wy = zoomview::pictureTop + zoomview::scale * j;
            memoryBitmap.setPixel(wx, wy, rgb);
            memoryBitmap.setPixel(wx + 1, wy, rgb);
            memoryBitmap.setPixel(wx, wy + 1, rgb);
            memoryBitmap.setPixel(wx + 1, wy + 1, rgb);
        }
    }
    update();
}

void tzoomwin::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawImage(0, 0, memoryBitmap);
}

#include "moc_zoomwin.cpp"
