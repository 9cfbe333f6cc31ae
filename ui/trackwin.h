// The track window: a small black panel in the lower left of the main window
// showing, at every measurement cycle while guiding, the guiding error of
// each axis in pixels and the size of the correction sent for it as a
// percentage of the largest pulse. The guiding session computes the
// correction; this window only shows it.
#pragma once

#include <QFont>
#include <QImage>
#include <QWidget>

#include "core/session.h"

struct DrawingObjects;

class Trackwin : public QWidget {
    Q_OBJECT
public:
    Trackwin(const DrawingObjects& drawing, QWidget* parent);

    // The readout of one measurement cycle: black, and while tracking the
    // raw errors, the labels and each axis's pulse size ("--" when the
    // optics give no usable correction), in red when it reached 63 counts.
    void ShowCorrection(const CycleResult& cycle);

    float pixelScale = 0;  // arcseconds per pixel, of the last cycle while tracking

    // The readout as drawn: the client area inside the one-pixel border.
    const QImage& readout() const { return readout_; }

    static constexpr int kBorder = 1;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont font_;
    QImage readout_;
};
