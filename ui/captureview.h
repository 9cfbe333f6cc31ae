// The capture window: the live video over the top left of the main window,
// 320 x 240 at (3, 5). It shows the screen picture of the shared state, the
// frame last grabbed, and paints its marks over it: the square round the
// analysis region and the "Mire" reticle, both inverting what lies under
// them, and the red lock circle of a suspended guiding. The marks never go
// into the picture itself, which the measurement, the dark frame and the
// photographs read as the camera gave it.
#pragma once

#include <QColor>
#include <QWidget>

struct SharedState;

class CaptureView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kX = 3;
    static constexpr int kY = 5;

    CaptureView(SharedState& state, QColor lockColour, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SharedState& state_;
    QColor lockColour_;
};
