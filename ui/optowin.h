// The virtual LED window "OPTO": four squares that light white for the length
// of a guiding pulse, two for AD and two for DEC. It is also the pulse timer
// of the serial outputs: every pulse start and end drives the mount
// operations of the serial line, whatever the guiding output, so one
// mechanism serves the squares, "LX 200" and "Meade ETX".
#pragma once

#include <QSize>
#include <QWidget>

#include "qt/pulsetimer.h"
#include "core/guide/lx200.h"

struct SharedState;
struct DrawingObjects;
class MountLink;

class TOptowin : public QWidget {
    Q_OBJECT
public:
    TOptowin(SharedState& state, MountLink& link, const DrawingObjects& drawing, QWidget* parent);
    // Stops an axis whose pulse is still running: a serial move would
    // otherwise go on after the window (or the program) is gone. The link
    // must outlive the window.
    ~TOptowin() override;

    // Pulses of signed length in milliseconds: AD below zero moves east and
    // lights the left AD square, above zero west and the right one; DEC below
    // zero north and the left ("-") square, above zero south and the right
    // ("+") one. Each first ends the axis's running pulse; a length of zero
    // lights nothing and ends the axis once more at the next pass of the
    // event loop.
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

    enum class Lamp { Off, Left, Right };
    Lamp lamp(GuideAxis axis) const { return axis == GuideAxis::Ra ? raLamp_ : decLamp_; }
    bool pulseRunning(GuideAxis axis) const { return timer_.running(axis); }
    bool anyPulseRunning() const { return timer_.anyRunning(); }
    PulseTimer& pulseTimer() { return timer_; }

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
    void pulse(GuideAxis axis, int ms);
    void endPulse(GuideAxis axis);
    void layOut(int frameWidth, int frameHeight, int* laidOutWidth, int* laidOutHeight);

    SharedState& state_;
    MountLink& link_;
    const DrawingObjects& drawing_;
    PulseTimer timer_;
    Lamp raLamp_ = Lamp::Off;
    Lamp decLamp_ = Lamp::Off;
    bool watchingExposure_ = false;
};
