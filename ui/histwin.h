// The histogram panel of the main window: after every measurement it shows
// the grey-level histogram of the analysis region with the threshold marked
// under it, the brightest level, the star population and the star's column
// and row profiles.
#pragma once

#include <QImage>
#include <QWidget>

#include "ui/drawing.h"
#include "core/state.h"

class QPainter;

class THistwin : public QWidget {
    Q_OBJECT
public:
    THistwin(SharedState&, const DrawingObjects&, QWidget* parent);

    // Composes the picture of the last measurement and shows it.
    void Plot();

    static constexpr int kWidth = 210;
    static constexpr int kHeight = 242;
    // The thin border: picture coordinates start inside it.
    static constexpr int kBorder = 1;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void compose();
    void drawLine(QPainter&, const QPen&, int x0, int y0, int x1, int y1);

    SharedState& state_;
    const DrawingObjects& drawing_;
    QImage surface_;  // the picture, composed off-screen, the size of the panel
    bool composedForPaint_ = false;
};
