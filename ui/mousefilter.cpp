// The application's mouse filter.
#include "ui/mousefilter.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

MouseFilter::MouseFilter(QWidget* video, Hooks hooks, QObject* parent)
    : QObject(parent), video_(video), hooks_(std::move(hooks))
{
}

void MouseFilter::install()
{
    if (!installed_)
        qApp->installEventFilter(this);
    installed_ = true;
}

void MouseFilter::remove()
{
    if (installed_)
        qApp->removeEventFilter(this);
    installed_ = false;
}

bool MouseFilter::eventFilter(QObject* watched, QEvent* event)
{
    // Every mouse event reaches its window first and is then passed on to
    // the widget under the pointer: looking at the window's copy alone sees
    // each event once, and consuming it there keeps it from every widget.
    const QEvent::Type type = event->type();
    if (!watched->isWindowType() ||
        (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
         type != QEvent::MouseButtonDblClick && type != QEvent::MouseMove))
        return false;
    // While a menu is open (the video's own, over the video), the mouse is
    // the menu's.
    if (QApplication::activePopupWidget())
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint global = mouse->globalPosition().toPoint();
    const QPoint v = video_->mapFromGlobal(global);
    const bool overVideo = v.x() > 0 && v.x() < 320 && v.y() > 0 && v.y() < 240;
    // The right button over the shown video is the menu's: the press is
    // kept from every widget, the release opens the menu (opened on the
    // press, the menu would take that release as a choice of the item under
    // the pointer).
    if (overVideo && !dragging_ && video_->isVisible() && hooks_.contextMenu &&
        mouse->button() == Qt::RightButton) {
        if (type == QEvent::MouseButtonRelease)
            hooks_.contextMenu(global);
        return true;
    }
    if (!(overVideo && hooks_.captureRunning()))
        return false;

    const bool left = mouse->button() == Qt::LeftButton;
    const bool press = left && (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick);
    const bool release = left && type == QEvent::MouseButtonRelease;
    if (press)
        dragging_ = true;
    if (release)
        dragging_ = false;
    // A slew button held down and let go over the video must hear of it:
    // without its release the mount would go on moving.
    if (hooks_.slewButtonHeld() && (release || !dragging_))
        return false;
    if (!dragging_)
        return true;
    hooks_.placeRegion(v);
    hooks_.livePreview();
    return true;
}
