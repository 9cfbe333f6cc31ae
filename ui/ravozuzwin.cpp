// The main window, its slew buttons and the application object.
#include "ui/ravozuzwin.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/guider.h"
#include "core/settings/paramsfile.h"
#include "core/state.h"
#include "core/log/guidelog.h"
#include "qt/guiderhost.h"
#include "qt/signalwatch.h"
#include "ui/gui_qt.h"
#include "ui/capturedialogs.h"
#include "ui/captureview.h"
#include "ui/controls.h"
#include "ui/messagebox_qt.h"
#include "ui/mousefilter.h"
#include "ui/precisewin.h"
#include "ui/selectwin.h"
#include "ui/serverhost.h"
#include "ui/zoomwin.h"

// ---------------------------------------------------------------- TpButton

TpButton::TpButton(MountControl& mount, RavozuzMainWindow* parent, int id, const QString& caption, int x,
                   int y, int w, int h, SlewButton b)
    : QPushButton(caption, parent), button(b), mount_(mount), owner_(parent)
{
    placeControl(this, id, x, y, w, h);
    setAutoDefault(false);
    setFocusPolicy(Qt::NoFocus);
}

void TpButton::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton) {
        mount_.slew(button, true);
        held_ = true;
    }
    QPushButton::mousePressEvent(e);
}

void TpButton::mouseReleaseEvent(QMouseEvent* e)
{
    // The stop of the output chosen now, whatever the press sent.
    if (e->button() == Qt::LeftButton) {
        held_ = false;
        mount_.slew(button, false);
    }
    QPushButton::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton && owner_)
        owner_->takeFocus();
}

void TpButton::releaseIfHeld()
{
    if (!held_)
        return;
    held_ = false;
    mount_.slew(button, false);
    setDown(false);
}

// ------------------------------------------------------------ RavozuzWindow

namespace {
QIcon programIcon()
{
    // A guide star in a reticle.
    QPixmap pm(32, 32);
    pm.fill(QColor(100, 100, 100));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(240, 240, 0), 2));
    p.drawLine(16, 2, 16, 10);
    p.drawLine(16, 22, 16, 30);
    p.drawLine(2, 16, 10, 16);
    p.drawLine(22, 16, 30, 16);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 16), 4, 4);
    return QIcon(pm);
}
}  // namespace

QPoint RavozuzWindow::initialPosition(int screenWidth, int screenHeight)
{
    // C++ division truncates toward zero, as the placement wants.
    return QPoint((screenWidth - 640) / 2, (screenHeight - 486) / 2);
}

RavozuzWindow::RavozuzWindow(SharedState& state, GuiderCore& core)
    : loop(core.acquisition), state_(state), core_(core)
{
    setWindowTitle(QStringLiteral("Quorvel  1.85 + guidage solaire"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(clientWidth, clientHeight);
    setFocusPolicy(Qt::StrongFocus);

    QSize screen(1024, 768);
    if (QScreen* s = QGuiApplication::primaryScreen())
        screen = s->size();
    const QPoint pos = initialPosition(screen.width(), screen.height());
    move(pos);
    state_.mainX = pos.x();
    state_.mainY = pos.y();

    QPushButton* source = makeButton(this, 400, QStringLiteral("Source"), 330, 10, 90, 20);
    QPushButton* format = makeButton(this, 401, QStringLiteral("Format"), 330, 40, 90, 20);
    QPushButton* adjust = makeButton(this, 402, QStringLiteral("Adjust"), 330, 70, 90, 20);
    slewButtons = {new TpButton(core_.mount, this, 351, QStringLiteral("N"), 465, 15, 25, 25, SlewButton::North),
                   new TpButton(core_.mount, this, 350, QStringLiteral("S"), 465, 65, 25, 25, SlewButton::South),
                   new TpButton(core_.mount, this, 348, QStringLiteral("W"), 440, 40, 25, 25, SlewButton::West),
                   new TpButton(core_.mount, this, 349, QStringLiteral("E"), 490, 40, 25, 25, SlewButton::East)};
    QPushButton* plus = makeButton(this, 346, QStringLiteral("+"), 340, 172, 25, 16);
    QPushButton* minus = makeButton(this, 347, QStringLiteral("-"), 340, 192, 25, 16);
    manualBox = makeCheckBox(this, 365, 450, 192);
    inhibitDecMinusBox = makeCheckBox(this, 366, 340, 120);
    inhibitDecPlusBox = makeCheckBox(this, 367, 340, 140);

    connect(source, &QPushButton::clicked, this, &RavozuzWindow::Source);
    connect(format, &QPushButton::clicked, this, &RavozuzWindow::Format);
    connect(adjust, &QPushButton::clicked, this, &RavozuzWindow::Adjust);
    connect(plus, &QPushButton::clicked, this, &RavozuzWindow::ThresholdUp);
    connect(minus, &QPushButton::clicked, this, &RavozuzWindow::ThresholdDown);
    connect(manualBox, &QCheckBox::clicked, this, &RavozuzWindow::ManualToggled);
    connect(inhibitDecMinusBox, &QCheckBox::clicked, this, &RavozuzWindow::InhibitMinusToggled);
    connect(inhibitDecPlusBox, &QCheckBox::clicked, this, &RavozuzWindow::InhibitPlusToggled);

    // The capture window: hidden until the first connection.
    captureView = new CaptureView(state_, drawing_.redPen.color(), this);
    captureView->hide();
    tickListener_ = core_.acquisition.addTickListener([this](const AcquisitionLoop::Tick& t) { showTick(t); });
    // A region placed by anyone (a client of the event server) shows at once.
    sessionListener_ = core_.session.addListener([this](const SessionEvent& e) {
        if (e.kind == SessionEvent::Kind::RegionMoved)
            captureView->update();
    });

    // Setup: the mouse filter, then the analysis panel (which loads the
    // settings and applies the guiding output).
    MouseFilter::Hooks hooks;
    hooks.captureRunning = [this] { return state_.captureRunning; };
    hooks.placeRegion = [this](QPoint v) { core_.session.placeRegion(v.x(), v.y()); };
    hooks.livePreview = [this] {
        captureView->update();
        zoomWindow->DrawLivePreview();
    };
    hooks.slewButtonHeld = [this] {
        return std::any_of(slewButtons.begin(), slewButtons.end(), [](TpButton* b) { return b->held(); });
    };
    hooks.contextMenu = [this](QPoint global) { OpenVideoMenu(global); };
    mouseFilter = new MouseFilter(captureView, hooks, this);
    mouseFilter->install();
    zoomWindow = new tzoomwin(state_, core_, drawing_, this);
    captureView->raise();  // over the top of the analysis panel
    buildVideoMenu();
}

void RavozuzWindow::buildVideoMenu()
{
    videoMenu = new QMenu(this);
    preciseAction = videoMenu->addAction(QStringLiteral("Guidage précis"));
    preciseAction->setCheckable(true);
    calibrateAction = videoMenu->addAction(QStringLiteral("Calibrer"));
    videoMenu->addSeparator();
    flipAction = videoMenu->addAction(QStringLiteral("Inverser la calibration (retournement au méridien)"));
    forgetAction = videoMenu->addAction(QStringLiteral("Oublier la calibration"));
    connect(preciseAction, &QAction::triggered, this, &RavozuzWindow::PreciseToggled);
    connect(calibrateAction, &QAction::triggered, this, &RavozuzWindow::Calibrate);
    connect(flipAction, &QAction::triggered, this, [this] { core_.precise.flipCalibration(); });
    connect(forgetAction, &QAction::triggered, this, [this] { core_.precise.clearCalibration(); });
    // The check mark says what the mode is now, whoever switched it.
    connect(videoMenu, &QMenu::aboutToShow, this, [this] { preciseAction->setChecked(core_.precise.on()); });

    // The tool window below the main window (the energy graph takes its
    // right), within the screen.
    preciseWindow = new TPrecisewin(core_.precise, drawing_, this);
    QSize screen(1024, 768);
    if (QScreen* sc = QGuiApplication::primaryScreen())
        screen = sc->size();
    preciseWindow->move(std::max(0, std::min(state_.mainX, screen.width() - preciseWindow->width())),
                        std::max(0, std::min(state_.mainY + clientHeight + 30, screen.height() - preciseWindow->height())));
}

void RavozuzWindow::OpenVideoMenu(QPoint global)
{
    videoMenu->popup(global);
}

void RavozuzWindow::PreciseToggled(bool on)
{
    core_.precise.setOn(on);
    takeFocus();
}

void RavozuzWindow::Calibrate()
{
    if (!core_.precise.calibrate())
        showMessageBox(QStringLiteral("ERREUR"), QString::fromStdString(core_.precise.status().errorFr));
    takeFocus();
}

RavozuzWindow::~RavozuzWindow()
{
    // A slew button still held must not leave the mount moving.
    releaseSlewButtons();
    loop.disconnect();
    core_.acquisition.removeTickListener(tickListener_);
    core_.session.removeListener(sessionListener_);
    mouseFilter->remove();
    if (const int err = storeParams(state_))
        std::fprintf(stderr, "quorvel: %s\n", saveFailureText(err).c_str());
    delete zoomWindow;
    zoomWindow = nullptr;
}

void RavozuzWindow::moveEvent(QMoveEvent* e)
{
    RavozuzMainWindow::moveEvent(e);
    state_.mainX = x();
    state_.mainY = y();
}

void RavozuzWindow::changeEvent(QEvent* e)
{
    // The focus gone elsewhere while a slew button is held: its release
    // may never come, so the stop goes out now.
    if (e->type() == QEvent::ActivationChange && !isActiveWindow())
        releaseSlewButtons();
    RavozuzMainWindow::changeEvent(e);
}

void RavozuzWindow::releaseSlewButtons()
{
    for (TpButton* b : slewButtons)
        if (b)
            b->releaseIfHeld();
}

void RavozuzWindow::ConnectCapture()
{
    captureView->show();
    captureView->update();
    const CaptureStatus status = loop.connect(state_.driverIndex);
    if (!status.ok) {
        std::fprintf(stderr, "quorvel: no camera at entry %d: %s\n", state_.driverIndex, status.error.c_str());
        showMessageBox(QStringLiteral("ERREUR"), QStringLiteral("Pas de caméra"));
    }
}

void RavozuzWindow::Source()
{
    if (state_.captureRunning)
        loop.disconnect();
    core_.acquisition.rescan();
    {
        std::vector<std::string> names;
        for (const auto& driver : core_.acquisition.drivers())
            names.push_back(driver->name());
        tselectwin dialog(state_, names, this);
        dialog.exec();
    }
    takeFocus();
    ConnectCapture();
    takeFocus();
}

template <class Dialog>
void RavozuzWindow::openDriverDialog()
{
    // Over the driver's dialog the mouse belongs to the dialog.
    mouseFilter->remove();
    if (CaptureDriver* driver = core_.acquisition.connected()) {
        Dialog dialog(*driver, this);
        dialog.exec();
    }
    mouseFilter->install();
    takeFocus();
}

void RavozuzWindow::Format()
{
    openDriverDialog<FormatDialog>();
}

void RavozuzWindow::Adjust()
{
    openDriverDialog<AdjustDialog>();
}

void RavozuzWindow::showTick(const AcquisitionLoop::Tick& t)
{
    if (t.grab == GrabStatus::Lost) {
        // The last picture stays; "Source" connects again.
        std::fprintf(stderr, "quorvel: camera lost: %s\n", t.error.c_str());
        QTimer::singleShot(0, this, [] {
            showMessageBox(QStringLiteral("ERREUR"), QStringLiteral("La caméra ne répond plus"));
        });
    }
    if (t.darkTaken)
        zoomWindow->ShowDarkState();
    if (t.cycle)
        zoomWindow->ShowCycle(*t.cycle);
    captureView->update();
}

void RavozuzWindow::ThresholdUp()
{
    if (state_.manualThreshold < 63)
        ++state_.manualThreshold;
    DrawLabels();
}

void RavozuzWindow::ThresholdDown()
{
    if (state_.manualThreshold > 0)
        --state_.manualThreshold;
    DrawLabels();
    takeFocus();
}

void RavozuzWindow::ManualToggled()
{
    beep();
    if (manualBox->isChecked()) {
        // Manual mode starts from the threshold the last measurement used.
        state_.manualThreshold = state_.detectionThreshold;
        DrawLabels();
        state_.manualThresholdOn = true;
    } else {
        state_.manualThresholdOn = false;
    }
    takeFocus();
}

void RavozuzWindow::InhibitMinusToggled()
{
    state_.inhibitDecMinus = inhibitDecMinusBox->isChecked();
    takeFocus();
}

void RavozuzWindow::InhibitPlusToggled()
{
    state_.inhibitDecPlus = inhibitDecPlusBox->isChecked();
    takeFocus();
}

void RavozuzWindow::keyPressEvent(QKeyEvent* e)
{
    switch (e->key()) {
    case Qt::Key_Left: core_.mount.arrowKey(ArrowKey::Left); break;
    case Qt::Key_Up: core_.mount.arrowKey(ArrowKey::Up); break;
    case Qt::Key_Right: core_.mount.arrowKey(ArrowKey::Right); break;
    case Qt::Key_Down: core_.mount.arrowKey(ArrowKey::Down); break;
    default: RavozuzMainWindow::keyPressEvent(e); break;
    }
}

void RavozuzWindow::DrawLabels()
{
    thresholdText = QString::number(state_.manualThreshold);
    update(QRect(360, 120, 170, 90));
}

void RavozuzWindow::DrawLabel(QPainter& p, const QString& text, int x, int y, int width)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(100, 100, 100));
    p.drawRect(x, y, width, 14);  // erases the previous text of the box
    p.setFont(drawing_.labelFont);
    p.setPen(Colours::labelYellow);
    drawTextAt(p, x, y, text);
}

void RavozuzWindow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    // Grey client area with a black line along its top and left edges.
    p.fillRect(rect(), QColor(100, 100, 100));
    p.setPen(Qt::black);
    p.drawLine(0, 0, width() - 1, 0);
    p.drawLine(0, 0, 0, height() - 1);
    // Frame round the manual-threshold group: (325, 168)-(531, 212).
    p.setBrush(Qt::NoBrush);
    p.drawRect(325, 168, 531 - 325 - 1, 212 - 168 - 1);
    thresholdText = QString::number(state_.manualThreshold);
    DrawLabel(p, QStringLiteral("Seuil manuel"), 375, 172, 50);
    DrawLabel(p, QStringLiteral("Manuel"), 470, 192, 50);
    DrawLabel(p, QStringLiteral("Inhibe DEC-"), 360, 120, 50);
    DrawLabel(p, QStringLiteral("Inhibe DEC+"), 360, 140, 50);
    DrawLabel(p, thresholdText, 400, 192, 20);
}

// ------------------------------------------------------------------ TcamApp

int TcamApp::run(int argc, char** argv, const GuiOptions& options)
{
    QApplication app(argc, argv);
    SteadyClock clock;
    SharedState state(clock);
    GuiderHost host(state);
    host.warnAboutTrace("quorvel");
    host.reportLineChanges("quorvel");
    std::unique_ptr<GuideLog> log;
    if (!options.logPath.empty()) {
        std::string error;
        log = GuideLog::openFor(options.logPath, host.core.session, state, error);
        if (!log) {
            std::fprintf(stderr, "quorvel: %s\n", error.c_str());
            return 1;
        }
        // A full disk is said when it happens, and again when the log goes on.
        log->setWritingListener([](bool writing, const std::string& m) {
            std::fprintf(stderr, "%s: %s%s\n", "quorvel", m.c_str(), writing ? "" : " (the guiding goes on)");
        });
    }
    SignalWatch watch([&app](int) { app.quit(); });
    int result;
    {
        RavozuzWindow w(state, host.core);
        std::unique_ptr<WindowServer> server;
        if (options.server) {
            server = std::make_unique<WindowServer>(w, state, host.core, log.get());
            std::string error;
            if (!server->listen(options.serverAddress, options.serverPort, error)) {
                std::fprintf(stderr, "quorvel: %s\n", error.c_str());
                return 1;
            }
            std::printf("quorvel: PHD2 event server on %s:%u\n", options.serverAddress.c_str(),
                        unsigned(server->server().port()));
            std::fflush(stdout);
        }
        app.setWindowIcon(programIcon());
        w.setWindowIcon(programIcon());
        w.show();
        w.takeFocus();
        result = app.exec();
    }
    if (log) {
        log->close();
        if (!log->writeError().empty())
            std::fprintf(stderr, "quorvel: guide log %s: %s\n", options.logPath.c_str(), log->writeError().c_str());
    }
    return result;
}
