// The application's mouse filter: while capture runs, every mouse event over
// the live video is the video's, whatever window lies under the pointer. A
// left press there starts dragging the analysis region, which then follows
// the pointer (centred on it) until a left release inside the video; the
// video and the raw region are shown again at once.
// The release of a slew button held down always reaches the button, so that
// its stop goes out. The right button over the shown video, when no drag is
// under way, opens the video's menu on its release, whether capture runs or
// not; it never moves the region. While a menu is open the mouse is the menu's.
#pragma once

#include <QObject>
#include <QPoint>

#include <functional>

class QWidget;

class MouseFilter : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        std::function<bool()> captureRunning;
        std::function<void(QPoint video)> placeRegion;  // centre on this video position
        std::function<void()> livePreview;
        std::function<bool()> slewButtonHeld;
        std::function<void(QPoint global)> contextMenu;  // the video's menu, at this screen position
    };
    // video: the capture window, whose pixels are the video's coordinates.
    MouseFilter(QWidget* video, Hooks hooks, QObject* parent = nullptr);

    void install();
    void remove();
    bool installed() const { return installed_; }
    bool dragging() const { return dragging_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* video_;
    Hooks hooks_;
    bool installed_ = false;
    bool dragging_ = false;
};
