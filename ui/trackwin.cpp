// The track window and the correction step.
#include "ui/trackwin.h"

#include <QPainter>

#include "ui/drawing.h"
#include "core/state.h"
#include "ui/optowin.h"
#include "core/guide/relaybox.h"
#include "core/serial/serialline.h"

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

Trackwin::Trackwin(SharedState& state, MountLink& link, TOptowin& optoWindow,
                   const DrawingObjects& drawing, QWidget* parent)
    : QWidget(parent),
      state_(state),
      link_(link),
      optoWindow_(optoWindow),
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

void Trackwin::Correct(bool tracking)
{
    QPainter p(&readout_);
    p.fillRect(readout_.rect(), Qt::black);
    setOpaqueText(p, font_, Colours::amber);
    if (!tracking) {
        p.end();
        update();
        return;
    }

    const int dx = state_.errorX();
    const int dy = state_.errorY();
    drawText(p, kAdError, QString::number(dx));
    drawText(p, kDecError, QString::number(dy));
    // The labels must not blank the figures beside them, whatever the font.
    p.setClipRect(QRect(0, 0, kAdError.x(), readout_.height()));
    drawText(p, kAdLabel, QStringLiteral("Delta X :"));
    drawText(p, kDecLabel, QStringLiteral("Delta Y :"));
    p.setClipping(false);

    const tparam& params = *state_.params;
    correction::Inputs in;
    in.dx = dx;
    in.dy = dy;
    in.focalLengthCm = params.focalLength;
    in.pixelSizeUm = params.pixelSize;
    in.raSpeedArcsecPerSec = params.raSpeed;
    in.decSpeedArcsecPerSec = params.decSpeed;
    in.invertRa = params.invertRa != 0;
    in.invertDec = params.invertDec != 0;
    in.inhibitDecPlus = state_.inhibitDecPlus;
    in.inhibitDecMinus = state_.inhibitDecMinus;
    last_ = correction::compute(in);
    pixelScale = last_.pixelScale;

    const bool relayBox = params.interfaceType == RelayBox;

    // AD.
    p.setPen(last_.ra.saturated ? Colours::saturation : Colours::amber);
    drawText(p, kAdPercent, QString::fromStdString(correction::percentText(last_, last_.ra)));
    if (last_.valid) {
        if (relayBox)
            sendRelayCorrection(link_, last_.ra.relayCode, last_.ra.count);
        else
            optoWindow_.PulseRa(last_.ra.pulseMs);
        state_.clock.pauseMs(correction::kAxisGapMs);
    }

    // DEC; the inhibit check boxes only hold back the LED window pulse.
    p.setPen(last_.dec.saturated ? Colours::saturation : Colours::amber);
    drawText(p, kDecPercent, QString::fromStdString(correction::percentText(last_, last_.dec)));
    if (last_.valid) {
        if (relayBox)
            sendRelayCorrection(link_, last_.dec.relayCode, last_.dec.count);
        else if (last_.dec.ledPulse)
            optoWindow_.PulseDec(last_.dec.pulseMs);
    }
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
