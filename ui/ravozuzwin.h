// The main window: the fixed panel that holds the live video, the analysis
// panel, the slew buttons and the threshold and declination-inhibit
// controls; it creates the shared drawing objects and saves the settings
// when it closes.
#pragma once

#include <QCheckBox>
#include <QPushButton>
#include <QString>

#include "core/guide/signs.h"
#include "ui/drawing.h"
#include "ui/ravozuzmainwin.h"

struct SharedState;
class GuiderCore;
class MountControl;
class tzoomwin;

// A slew button: moves the mount while it is held down. What each output
// sends for it (and the inversion of its relay code) is the mount control's.
class TpButton : public QPushButton {
    Q_OBJECT
public:
    TpButton(MountControl& mount, RavozuzMainWindow* parent, int id, const QString& caption, int x, int y,
             int w, int h, SlewButton button);

    const SlewButton button;

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    MountControl& mount_;
    RavozuzMainWindow* owner_;
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

    // Commands of the threshold and declination-inhibit controls.
    void ThresholdUp();
    void ThresholdDown();
    void ManualToggled();
    void InhibitMinusToggled();
    void InhibitPlusToggled();

    QCheckBox* manualBox = nullptr;
    QCheckBox* inhibitDecPlusBox = nullptr;
    QCheckBox* inhibitDecMinusBox = nullptr;

protected:
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void moveEvent(QMoveEvent* e) override;

private:
    void DrawLabel(QPainter& p, const QString& text, int x, int y, int width);

    SharedState& state_;
    GuiderCore& core_;
    DrawingObjects drawing_;
    QString thresholdText;
};

// The application: runs the main window.
class TcamApp {
public:
    int run(int argc, char** argv);
};
