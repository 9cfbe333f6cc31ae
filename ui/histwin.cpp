// The histogram panel: everything is composed on an off-screen surface from
// the shared measurement results, then copied to the panel in one piece.
#include "ui/histwin.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPaintEvent>

#include <span>

#include "ui/graphscale.h"

namespace {
constexpr int kBarFull = 90;            // the fullest level / column / row, pixels
constexpr int kHistogramBaseline = 120;
constexpr int kColumnBaseline = 231;
constexpr int kProfileTop = 131;        // first row of the row profile
constexpr int kColumnLeft = 105;        // first column of the column profile
constexpr int kRowLeft = 5;
}  // namespace

THistwin::THistwin(SharedState& state, const DrawingObjects& drawing, QWidget* parent)
    : QWidget(parent),
      state_(state),
      drawing_(drawing),
      surface_(kWidth, kHeight, QImage::Format_RGB32)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setGeometry(324, 220, kWidth, kHeight);
    surface_.fill(Qt::black);
    show();
}

void THistwin::drawLine(QPainter& p, const QPen& pen, int x0, int y0, int x1, int y1)
{
    const auto r = graphscale::axisLinePixels(x0, y0, x1, y1);
    if (!r.empty())
        p.fillRect(QRect(r.x, r.y, r.width, r.height), pen.color());
}

void THistwin::compose()
{
    const int t = graphscale::markerLevel(state_.manualThresholdOn, state_.manualThreshold,
                                          state_.peakLevel);
    surface_.fill(Qt::black);
    QPainter p(&surface_);
    setOpaqueText(p, drawing_.labelFont, Colours::amber);

    // Labels before numbers: a label's opaque cell, in a face wider than
    // the labels were laid out for, must not cut into the number beside it.
    drawTextAt(p, 15, 3, QStringLiteral("max :"));
    drawTextAt(p, 90, 3, QStringLiteral("Population :"));
    drawTextAt(p, 42, 3, QString::number(state_.peakLevel));
    drawTextAt(p, 150, 3, QString::number(state_.population));

    p.setPen(Colours::labelYellow);
    drawTextAt(p, 3 * t + 7, 121, QStringLiteral("^"));

    // Square-root scale: faint levels stay visible beside the background.
    const auto& hist = state_.greyHistogram;
    const int64_t mh = graphscale::largestOrOne(std::span<const int32_t>(hist));
    for (int i = 0; i < int(hist.size()); ++i) {
        const int h = graphscale::sqrtHeight(hist[i], mh, kBarFull);
        const int x = 3 * i + 10;
        drawLine(p, drawing_.orangePen, x, kHistogramBaseline, x, kHistogramBaseline - 1 - h);
    }

    drawLine(p, drawing_.greyPen, 105, 232, 205, 232);
    drawLine(p, drawing_.greyPen, 4, 131, 4, 231);

    const auto& cols = state_.columnCounts;
    const int64_t mc = graphscale::largestOrOne(std::span<const uint8_t>(cols));
    for (int i = 0; i < int(cols.size()); ++i) {
        const int h = graphscale::linearHeight(cols[i], mc, kBarFull);
        drawLine(p, drawing_.redPen, kColumnLeft + i, kColumnBaseline, kColumnLeft + i,
                 kColumnBaseline - h);
    }

    const auto& rows = state_.rowCounts;
    const int64_t mr = graphscale::largestOrOne(std::span<const uint8_t>(rows));
    for (int i = 0; i < int(rows.size()); ++i) {
        const int h = graphscale::linearHeight(rows[i], mr, kBarFull);
        drawLine(p, drawing_.redPen, kRowLeft, kProfileTop + i, kRowLeft + h, kProfileTop + i);
    }
}

void THistwin::Plot()
{
    compose();
    composedForPaint_ = true;
    update();
}

void THistwin::paintEvent(QPaintEvent*)
{
    // A paint request of the window system redraws from the last
    // measurement; after Plot the picture is already composed.
    if (!composedForPaint_)
        compose();
    composedForPaint_ = false;
    QPainter p(this);
    p.drawImage(kBorder, kBorder, surface_);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawRect(0, 0, width() - 1, height() - 1);
}
