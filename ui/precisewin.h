// The "Guidage précis" window: a small separate window that shows what the
// precise mode is doing, in French: on or off, the calibration under way
// (its step), its result (camera angle, rates, axes reversed, orthogonality)
// or why it failed, and the last guiding error in fractions of a pixel. It
// reads the precise mode's status whenever its listener says it changed, and
// shows itself when the mode is switched on or a calibration starts. It
// holds no guiding: everything it shows is the status's.
#pragma once

#include <QFont>
#include <QRect>
#include <QStringList>
#include <QWidget>

#include "core/precise/precisemode.h"

struct DrawingObjects;

// The lines the window shows for this status, top to bottom.
QStringList preciseStatusLines(const PreciseStatus& status);

class TPrecisewin : public QWidget {
    Q_OBJECT
public:
    // The precise mode must outlive the window.
    TPrecisewin(PreciseMode& precise, const DrawingObjects& drawing, QWidget* parent);
    ~TPrecisewin() override;

    // The lines shown now.
    const QStringList& lines() const { return lines_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void statusChanged();
    void fitHeight();
    QRect lineBox(const QString& line, int top) const;

    PreciseMode& precise_;
    const DrawingObjects& drawing_;
    int listener_ = 0;
    QFont font_;
    QStringList lines_;
    bool wasOn_ = false;
    bool wasCalibrating_ = false;
};
