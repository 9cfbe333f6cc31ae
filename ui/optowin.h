// The virtual LED window "OPTO": four squares that light white for the length
// of a guiding pulse, two for AD and two for DEC. It draws the pulses the
// pulse machine runs (core/guide/pulsemachine.h), which also drives the serial
// outputs; the window forwards to it the pulses asked of it, its own arrow
// keys, and the window system's exposures, which end both pulses.
#pragma once

#include <QSize>
#include <QWidget>

#include "core/guide/pulsemachine.h"

struct SharedState;
struct DrawingObjects;

class TOptowin : public QWidget {
    Q_OBJECT
public:
    // The pulse machine must outlive the window.
    TOptowin(SharedState& state, PulseMachine& pulses, const DrawingObjects& drawing, QWidget* parent);
    ~TOptowin() override;

    // Pulses of signed length in milliseconds, on the pulse machine (see
    // there for the directions and squares).
    void PulseRa(int ms);
    void PulseDec(int ms);
    // Stop the axis on the serial line, darken its squares, drop its timer.
    void EndPulseRa();
    void EndPulseDec();

    int cell = 0;         // width of one of the 18 layout columns
    int top = 0;          // top edge of the squares (= cell)
    int bottom = 0;       // bottom edge of the squares, top of the label row
    int border = 1;       // frame border width (classic metrics)
    int titleHeight = 18; // caption height (classic metrics)

    // Window size with its frame under the classic metrics; the settings'
    // optoWidth and optoHeight are in these terms.
    QSize classicFrameSize() const;
    // Client-area left edge of the four squares, left to right.
    int squareLeft(int index) const { return (2 + 4 * index) * cell + border; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void layOut(int frameWidth, int frameHeight, int* laidOutWidth, int* laidOutHeight);

    SharedState& state_;
    PulseMachine& pulses_;
    const DrawingObjects& drawing_;
    bool watchingExposure_ = false;
};
