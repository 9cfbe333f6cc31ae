// The track window.
#include "ui/trackwin.h"

#include <QPainter>

#include "ui/drawing.h"

namespace {

constexpr int kX = 2;
constexpr int kY = 406;
constexpr int kWidth = 105;
constexpr int kHeight = 70;

// Top-left corners of the readout texts, in client coordinates.
constexpr QPoint kAdError(50, 10);
constexpr QPoint kDecError(50, 33);
constexpr QPoint kAdLabel(10, 10);
constexpr QPoint kDecLabel(10, 33);
constexpr QPoint kAdPercent(75, 10);
constexpr QPoint kDecPercent(75, 33);

void drawText(QPainter& p, QPoint at, const QString& text) { drawTextAt(p, at.x(), at.y(), text); }

}  // namespace

Trackwin::Trackwin(const DrawingObjects& drawing, QWidget* parent)
    : QWidget(parent),
      font_(drawing.labelFont),
      readout_(kWidth - 2 * kBorder, kHeight - 2 * kBorder, QImage::Format_RGB32)
{
    // Plain pixels in the exact colours, and narrow enough that each text
    // ends before the next column starts ("Delta X :" within 40 pixels,
    // "100%" within the 28 left of the panel).
    font_.setStyleStrategy(QFont::NoAntialias);
    font_.setStretch(QFont::SemiCondensed);
    readout_.fill(Qt::black);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setGeometry(kX, kY, kWidth, kHeight);
}

void Trackwin::ShowCorrection(const CycleResult& cycle)
{
    QPainter p(&readout_);
    p.fillRect(readout_.rect(), Qt::black);
    setOpaqueText(p, font_, Colours::amber);
    if (!cycle.tracking) {
        p.end();
        update();
        return;
    }

    drawText(p, kAdError, QString::number(cycle.dx));
    drawText(p, kDecError, QString::number(cycle.dy));
    // The labels must not blank the figures beside them, whatever the font.
    p.setClipRect(QRect(0, 0, kAdError.x(), readout_.height()));
    drawText(p, kAdLabel, QStringLiteral("Delta X :"));
    drawText(p, kDecLabel, QStringLiteral("Delta Y :"));
    p.setClipping(false);

    const correction::Result& r = cycle.correction;
    pixelScale = r.pixelScale;
    p.setPen(r.ra.saturated ? Colours::saturation : Colours::amber);
    drawText(p, kAdPercent, QString::fromStdString(correction::percentText(r, r.ra)));
    p.setPen(r.dec.saturated ? Colours::saturation : Colours::amber);
    drawText(p, kDecPercent, QString::fromStdString(correction::percentText(r, r.dec)));
    p.end();
    update();
}

void Trackwin::paintEvent(QPaintEvent*)
{
    // The readout of the last step stays on show until the next one: a
    // repaint does not blank it.
    QPainter p(this);
    p.fillRect(rect(), Qt::black);  // the thin border, in the classic frame colour
    p.drawImage(kBorder, kBorder, readout_);
}
