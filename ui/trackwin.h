// The track window: a small black panel in the lower left of the main window
// showing, at every measurement cycle while guiding, the guiding error of
// each axis in pixels and the size of the correction sent for it as a
// percentage of the largest pulse. It owns the correction step.
#pragma once

#include <QFont>
#include <QImage>
#include <QWidget>

#include "core/guide/correction.h"

struct SharedState;
struct DrawingObjects;
class MountLink;
class TOptowin;

class Trackwin : public QWidget {
    Q_OBJECT
public:
    Trackwin(SharedState& state, MountLink& link, TOptowin& optoWindow,
             const DrawingObjects& drawing, QWidget* parent);

    // The correction step of one measurement cycle: clears the readout and,
    // while tracking, shows the errors and sends one pulse per axis on the
    // chosen output (relay-box pairs on "Rereridu standard", LED window pulses
    // otherwise), with a 5 ms wait between the axes. Blocks the calling
    // (user-interface) thread for those waits.
    void Correct(bool tracking);

    float pixelScale = 0;  // arcseconds per pixel, recomputed at every step

    // What the last step computed while tracking (for the command line).
    const correction::Result& lastCorrection() const { return last_; }
    // The readout as drawn: the client area inside the one-pixel border.
    const QImage& readout() const { return readout_; }

    static constexpr int kBorder = 1;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SharedState& state_;
    MountLink& link_;
    TOptowin& optoWindow_;
    QFont font_;
    QImage readout_;
    correction::Result last_;
};
