// The main window: the fixed panel that holds the live video, the analysis
// panel, the slew buttons and the threshold and declination-inhibit
// controls; it creates the shared drawing objects and saves the settings
// when it closes.
#pragma once

#include <QCheckBox>
#include <QPushButton>
#include <QString>

#include "ui/drawing.h"
#include "ui/ravozuzmainwin.h"

struct SharedState;
class MountLink;
class tzoomwin;

// A slew button: moves the mount while it is held down.
class TpButton : public QPushButton {
    Q_OBJECT
public:
    TpButton(SharedState& state, MountLink& link, RavozuzMainWindow* parent, int id,
             const QString& caption, int x, int y, int w, int h, const char* lxMove,
             const char* lxStop, int direction, const char* etxMove, const char* etxStop);

    QString lxMove, lxStop, etxMove, etxStop;
    int direction;  // relay-box code: 0 W, 1 E, 2 N, 3 S

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    SharedState& state_;
    MountLink& link_;
    RavozuzMainWindow* owner_;
};

class RavozuzWindow : public RavozuzMainWindow {
    Q_OBJECT
public:
    // Client area of the main window, in pixels.
    static constexpr int clientWidth = 539;
    static constexpr int clientHeight = 464;

    RavozuzWindow(SharedState& state, MountLink& link);
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
    MountLink& link_;
    DrawingObjects drawing_;
    QString thresholdText;
};

// The application: runs the main window.
class TcamApp {
public:
    int run(int argc, char** argv);
};
