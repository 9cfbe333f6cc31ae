// Base of the main window: what the other windows may ask of it. The zoom
// window redraws the main window's labels after every measurement and gives
// the keyboard focus back to it after every command, so the arrow keys keep
// slewing.
#pragma once

#include <QWidget>

class RavozuzMainWindow : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    virtual void DrawLabels() {}
    void takeFocus()
    {
        activateWindow();
        setFocus(Qt::OtherFocusReason);
    }
};
