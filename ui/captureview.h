// The capture window: the live video over the top left of the main window,
// 320 x 240 at (3, 5). It shows the screen picture of the shared state, the
// frame last grabbed with the marks drawn over it; the measurement, the dark
// frame and the photographs read that same picture.
#pragma once

#include <QWidget>

struct SharedState;

class CaptureView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kX = 3;
    static constexpr int kY = 5;

    CaptureView(SharedState& state, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SharedState& state_;
};
