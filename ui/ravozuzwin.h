// The main window: the fixed panel that holds the live video, the analysis
// panel, the slew buttons and the threshold and declination-inhibit
// controls; it creates the shared drawing objects and saves the settings
// when it closes.
#pragma once

#include <QCheckBox>
#include <QPushButton>
#include <QString>
#include <QTimer>

#include <array>
#include <functional>

#include "core/capture/acquisition.h"
#include "core/guide/signs.h"
#include "qt/looptimer.h"
#include "ui/drawing.h"
#include "ui/ravozuzmainwin.h"

struct SharedState;
class CaptureView;
class GuiderCore;
class MountControl;
class MouseFilter;
class QAction;
class QMenu;
class TPrecisewin;
class tzoomwin;

// A slew button: moves the mount while it is held down. What each output
// sends for it (and the inversion of its relay code) is the mount control's.
class TpButton : public QPushButton {
    Q_OBJECT
public:
    TpButton(MountControl& mount, RavozuzMainWindow* parent, int id, const QString& caption, int x, int y,
             int w, int h, SlewButton button);

    const SlewButton button;

    // The button's stop, when it is held down: sent when the main window
    // loses the focus or closes with the button still down.
    void releaseIfHeld();
    bool held() const { return held_; }

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    MountControl& mount_;
    RavozuzMainWindow* owner_;
    bool held_ = false;
};

class RavozuzWindow : public RavozuzMainWindow {
    Q_OBJECT
public:
    // Client area of the main window, in pixels.
    static constexpr int clientWidth = 539;
    static constexpr int clientHeight = 464;

    RavozuzWindow(SharedState& state, GuiderCore& core);
    ~RavozuzWindow() override;

    void DrawLabels() override;

    // Where the window is placed on a screen of this size, as the main window
    // centres itself (as if it were 640 x 486).
    static QPoint initialPosition(int screenWidth, int screenHeight);

    tzoomwin* zoomWindow = nullptr;
    const DrawingObjects& drawing() const { return drawing_; }

    // The video: "Source" (disconnect, the "Video Source" dialog, connect
    // whatever it closed with), "Format" and "Adjust" (the camera's own
    // dialogs, with the mouse filter removed around them), and the
    // connection itself, which starts the loop's ticks.
    void Source();
    void Format();
    void Adjust();
    void ConnectCapture();
    // One tick of the loop now, as its timer gives them every 200 ms once a
    // camera has connected: grab, the armed dark frame, the measurement
    // cycle when due; the window then shows them.
    void AcquisitionTick() { loop.tick(); }

    // Commands of the threshold and declination-inhibit controls.
    void ThresholdUp();
    void ThresholdDown();
    void ManualToggled();
    void InhibitMinusToggled();
    void InhibitPlusToggled();

    CaptureView* captureView = nullptr;
    MouseFilter* mouseFilter = nullptr;
    // The video's menu (a right press on the video): the precise mode's
    // commands, forwarded to it; the design's controls stay as they are.
    QMenu* videoMenu = nullptr;
    QAction* preciseAction = nullptr;     // "Guidage précis", checked while the mode is on
    QAction* calibrateAction = nullptr;   // "Calibrer"
    QAction* flipAction = nullptr;        // "Inverser la calibration (retournement au méridien)"
    QAction* forgetAction = nullptr;      // "Oublier la calibration"
    // The "Guidage précis" window, hidden until the mode is switched on or a
    // calibration starts.
    TPrecisewin* preciseWindow = nullptr;
    // The video's menu opened at this screen position, as a right press on
    // the video opens it.
    void OpenVideoMenu(QPoint global);
    // Commands of the video's menu.
    void PreciseToggled(bool on);
    void Calibrate();
    LoopTimer loop;
    std::array<TpButton*, 4> slewButtons{};

    QCheckBox* manualBox = nullptr;
    QCheckBox* inhibitDecPlusBox = nullptr;
    QCheckBox* inhibitDecMinusBox = nullptr;

protected:
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    // The connected camera's dialog of that kind ("Format", "Adjust"), modal,
    // with the mouse filter removed around it; nothing without a camera.
    template <class Dialog>
    void openDriverDialog();
    void DrawLabel(QPainter& p, const QString& text, int x, int y, int width);
    void releaseSlewButtons();
    // What the window does with each tick of the loop.
    void showTick(const AcquisitionLoop::Tick& t);
    void buildVideoMenu();

    SharedState& state_;
    GuiderCore& core_;
    int tickListener_ = 0;
    int sessionListener_ = 0;
    DrawingObjects drawing_;
    QString thresholdText;
};

struct GuiOptions;

// The application: runs the main window. Closing it, or ending the process
// with SIGTERM, SIGINT or SIGHUP, runs the same shutdown: pulses stopped,
// settings saved, the guide log closed.
class TcamApp {
public:
    int run(int argc, char** argv, const GuiOptions& options);
};
