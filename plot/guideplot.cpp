// The graph of a guiding section.
#include "plot/guideplot.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>
#include <QSvgGenerator>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kWidth = 1200;
constexpr int kHeight = 600;

const QColor kRa(30, 90, 210);
const QColor kDec(210, 40, 30);
const QColor kRaPulse(150, 185, 245);
const QColor kDecPulse(245, 170, 160);
const QColor kDropped(240, 140, 0);
const QColor kLock(0, 150, 60);
const QColor kDither(140, 60, 180);
const QColor kSettling(255, 246, 200);
const QColor kGrid(225, 225, 225);

// The smallest of 1, 2, 5 times a power of ten not below v.
double niceCeil(double v)
{
    if (!(v > 0))
        return 1;
    const double p = std::pow(10.0, std::floor(std::log10(v)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (m * p >= v * (1 - 1e-9))
            return m * p;
    return 10 * p;
}

// A step giving about `count` intervals over span.
double tickStep(double span, int count) { return niceCeil(span / count); }

QString number(double v, double step)
{
    const int decimals = step >= 1 ? 0 : std::min(3, int(std::ceil(-std::log10(step) - 1e-9)));
    return QString::number(v, 'f', decimals);
}

// Where the section's values go in the plot area.
struct Scales {
    QRectF area;
    double t0 = 0, t1 = 1;
    double extent = 1;      // the distance at the top (and, negated, the bottom)
    double pulseExtent = 1; // milliseconds at the top
    double k = 1;           // unit per pixel

    double x(double t) const { return area.left() + (t - t0) / (t1 - t0) * area.width(); }
    double y(double v) const { return area.center().y() - v / extent * area.height() / 2; }
    double yPulse(double ms) const { return area.center().y() - ms / pulseExtent * area.height() / 2; }
};

Scales scalesFor(const GuideLogSection& s, const QRectF& area)
{
    Scales sc;
    sc.area = area;
    sc.k = unitPerPixel(s);
    double peak = 0;
    int pulse = 0;
    bool any = false;
    for (const LoggedFrame& f : s.frames) {
        sc.t0 = any ? std::min(sc.t0, f.timeS) : f.timeS;
        sc.t1 = any ? std::max(sc.t1, f.timeS) : f.timeS;
        any = true;
        if (f.dropped)
            continue;
        peak = std::max({peak, std::abs(f.raPx * sc.k), std::abs(f.decPx * sc.k)});
        pulse = std::max({pulse, f.raMs, f.decMs});
    }
    // A second added to a time of 1e20 s is lost in its rounding: the span
    // is made wide enough to show at any time.
    if (!(sc.t1 - sc.t0 >= 1e-6))
        sc.t1 = sc.t0 + std::max(1.0, std::abs(sc.t0) * 1e-9);
    // Distances beyond any sky (a damaged log, or one so far that the image
    // scale overflows them) are drawn off the scale, which stays finite.
    peak = std::min(peak, 1e300);
    sc.extent = niceCeil(std::max(peak * 1.05, sc.k > 1 ? 0.5 : 0.2));
    sc.pulseExtent = niceCeil(std::max(pulse * 1.05, 100.0));
    return sc;
}

// The side of the zero line a pulse is drawn on: that of the distance it
// corrects (a West pulse a positive RA distance, a South pulse a positive DEC one).
int pulseSign(char direction) { return direction == 'W' || direction == 'S' ? 1 : -1; }

void drawAxes(QPainter& p, const Scales& sc, const QString& unit)
{
    const QRectF& a = sc.area;
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 9));

    // Ticks at whole multiples of the step, so that zero is one of them.
    const double vStep = tickStep(2 * sc.extent, 8);
    const int vTicks = int(std::floor(sc.extent / vStep + 1e-9));
    for (int i = -vTicks; i <= vTicks; ++i) {
        const double v = i * vStep;
        const double y = sc.y(v);
        p.setPen(QPen(i == 0 ? QColor(150, 150, 150) : kGrid, 1));
        p.drawLine(QPointF(a.left(), y), QPointF(a.right(), y));
        p.setPen(Qt::black);
        p.drawText(QRectF(a.left() - 56, y - 8, 50, 16), Qt::AlignRight | Qt::AlignVCenter, number(v, vStep));
    }
    const double pStep = tickStep(2 * sc.pulseExtent, 8);
    const int pTicks = int(std::floor(sc.pulseExtent / pStep + 1e-9));
    for (int i = -pTicks; i <= pTicks; ++i)
        p.drawText(QRectF(a.right() + 6, sc.yPulse(i * pStep) - 8, 60, 16), Qt::AlignLeft | Qt::AlignVCenter,
                   number(i * pStep, pStep));
    const double span = sc.t1 - sc.t0;
    const double tStep = tickStep(span, 10);
    // Ticks counted, not stepped: at times so large that a step is lost in
    // their rounding, t += tStep would never move.
    const double first = std::ceil(sc.t0 / tStep) * tStep;
    double previous = -INFINITY;
    for (int i = 0; i < 100; ++i) {
        const double t = first + i * tStep;
        if (!(t <= sc.t1 + tStep * 1e-6) || !(t > previous))
            break;
        previous = t;
        const double x = sc.x(t);
        p.setPen(QPen(kGrid, 1));
        p.drawLine(QPointF(x, a.top()), QPointF(x, a.bottom()));
        p.setPen(Qt::black);
        p.drawText(QRectF(x - 40, a.bottom() + 4, 80, 16), Qt::AlignHCenter | Qt::AlignTop, number(t, tStep));
    }
    p.drawText(QRectF(a.left(), a.bottom() + 20, a.width(), 16), Qt::AlignHCenter | Qt::AlignTop,
               QStringLiteral("time (s)"));

    p.save();
    p.translate(a.left() - 62, a.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-a.height() / 2, -16, a.height(), 16), Qt::AlignCenter,
               QStringLiteral("distance from the lock (%1)").arg(unit));
    p.restore();
    p.save();
    p.translate(a.right() + 66, a.center().y());
    p.rotate(90);
    p.drawText(QRectF(-a.height() / 2, -16, a.height(), 16), Qt::AlignCenter, QStringLiteral("pulse (ms)"));
    p.restore();
}

void drawLegend(QPainter& p, const QRectF& a, int dropped)
{
    struct Item {
        QColor color;
        QString text;
        int kind;  // 0 line, 1 bar, 2 tick, 3 dashed
    };
    const Item items[] = {
        {kRa, QStringLiteral("RA"), 0},
        {kDec, QStringLiteral("DEC"), 0},
        {kRaPulse, QStringLiteral("RA pulse"), 1},
        {kDecPulse, QStringLiteral("DEC pulse"), 1},
        {kDropped, QStringLiteral("dropped frame (%1)").arg(dropped), 2},
        {kLock, QStringLiteral("lock moved"), 3},
        {kDither, QStringLiteral("dither"), 3},
        {kSettling, QStringLiteral("settling"), 1},
    };
    const QFontMetricsF fm(p.font());
    double x = a.left();
    const double y = a.bottom() + 46;
    for (const Item& it : items) {
        switch (it.kind) {
        case 0: p.setPen(QPen(it.color, 2)); p.drawLine(QPointF(x, y), QPointF(x + 20, y)); break;
        case 1: p.fillRect(QRectF(x + 6, y - 6, 8, 12), it.color); break;
        case 2: p.setPen(QPen(it.color, 2)); p.drawLine(QPointF(x + 10, y - 6), QPointF(x + 10, y + 6)); break;
        default: p.setPen(QPen(it.color, 1.5, Qt::DashLine)); p.drawLine(QPointF(x + 10, y - 7), QPointF(x + 10, y + 7));
        }
        p.setPen(Qt::black);
        p.drawText(QPointF(x + 26, y + fm.ascent() / 2 - 1), it.text);
        x += 26 + fm.horizontalAdvance(it.text) + 22;
    }
}

void drawSettling(QPainter& p, const Scales& sc, const GuideLogSection& s)
{
    const double half = (sc.x(sc.t1) - sc.x(sc.t0)) / std::max<std::size_t>(1, s.frames.size()) / 2;
    for (std::size_t i = 0; i < s.frames.size();) {
        if (!s.frames[i].settling) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j + 1 < s.frames.size() && s.frames[j + 1].settling)
            ++j;
        const double x0 = std::max(sc.area.left(), sc.x(s.frames[i].timeS) - half);
        const double x1 = std::min(sc.area.right(), sc.x(s.frames[j].timeS) + half);
        p.fillRect(QRectF(x0, sc.area.top(), std::max(1.0, x1 - x0), sc.area.height()), kSettling);
        i = j + 1;
    }
}

void drawPulses(QPainter& p, const Scales& sc, const GuideLogSection& s)
{
    const double slot = sc.area.width() / std::max<std::size_t>(1, s.frames.size());
    const double w = std::max(1.0, slot * 0.4);
    const double zero = sc.yPulse(0);
    for (const LoggedFrame& f : s.frames) {
        const double x = sc.x(f.timeS);
        if (f.raMs > 0) {
            const double y = sc.yPulse(pulseSign(f.raDirection) * f.raMs);
            p.fillRect(QRectF(x - w, std::min(y, zero), w, std::abs(y - zero)), kRaPulse);
        }
        if (f.decMs > 0) {
            const double y = sc.yPulse(pulseSign(f.decDirection) * f.decMs);
            p.fillRect(QRectF(x, std::min(y, zero), w, std::abs(y - zero)), kDecPulse);
        }
    }
}

void drawEvents(QPainter& p, const Scales& sc, const GuideLogSection& s)
{
    for (const LoggedEvent& e : s.events) {
        if (e.kind != LoggedEvent::Kind::LockPosition && e.kind != LoggedEvent::Kind::Dither)
            continue;
        // The lock set as a section opens is where it starts, not a change.
        if (e.kind == LoggedEvent::Kind::LockPosition && e.rowsBefore == 0)
            continue;
        const double x = std::clamp(sc.x(e.timeS), sc.area.left(), sc.area.right());
        p.setPen(QPen(e.kind == LoggedEvent::Kind::Dither ? kDither : kLock, 1.5, Qt::DashLine));
        p.drawLine(QPointF(x, sc.area.top()), QPointF(x, sc.area.bottom()));
    }
}

void drawCurve(QPainter& p, const Scales& sc, const GuideLogSection& s, bool ra, const QColor& color)
{
    QPainterPath path;
    bool pen = false;
    for (const LoggedFrame& f : s.frames) {
        if (f.dropped) {
            pen = false;  // a gap where no star was measured
            continue;
        }
        const QPointF pt(sc.x(f.timeS), sc.y((ra ? f.raPx : f.decPx) * sc.k));
        if (pen)
            path.lineTo(pt);
        else
            path.moveTo(pt);
        pen = true;
    }
    p.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

void drawDropped(QPainter& p, const Scales& sc, const GuideLogSection& s)
{
    p.setPen(QPen(kDropped, 2));
    for (const LoggedFrame& f : s.frames)
        if (f.dropped)
            p.drawLine(QPointF(sc.x(f.timeS), sc.area.bottom()), QPointF(sc.x(f.timeS), sc.area.bottom() - 12));
}

}  // namespace

GuidePlotText guidePlotText(const GuideLogSection& section, int number, int count)
{
    const SectionFigures f = sectionFigures(section);
    GuidePlotText t;
    t.heading = QStringLiteral("Guiding section %1 of %2, begun %3: %4 frames, %5 dropped")
                    .arg(number)
                    .arg(count)
                    .arg(QString::fromStdString(section.begins))
                    .arg(f.frames)
                    .arg(f.dropped);
    if (f.used == 0) {
        t.figures = QStringLiteral("no measured frame");
        return t;
    }
    const QString unit = f.arcsec ? QStringLiteral("\"") : QStringLiteral(" px");
    auto v = [&](double x) { return QString::number(x, 'f', 2) + unit; };
    t.figures = QStringLiteral("RA RMS %1, peak %2    DEC RMS %3, peak %4    total RMS %5")
                    .arg(v(f.ra.rms), v(f.ra.peak), v(f.dec.rms), v(f.dec.peak), v(f.totalRms));
    return t;
}

void drawGuidePlot(QPainter& p, int width, int height, const GuideLogSection& section, const GuidePlotText& text)
{
    p.fillRect(QRect(0, 0, width, height), Qt::white);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRectF area(80, 64, width - 160, height - 64 - 80);
    const Scales sc = scalesFor(section, area);

    p.setPen(Qt::black);
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 11, QFont::Bold));
    p.drawText(QRectF(0, 8, width, 22), Qt::AlignHCenter | Qt::AlignVCenter, text.heading);
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    p.drawText(QRectF(0, 32, width, 20), Qt::AlignHCenter | Qt::AlignVCenter, text.figures);

    p.save();
    p.setClipRect(area);
    drawSettling(p, sc, section);
    p.restore();
    drawAxes(p, sc, sectionFigures(section).arcsec ? QStringLiteral("arcsec") : QStringLiteral("px"));
    p.save();
    p.setClipRect(area);
    drawPulses(p, sc, section);
    drawEvents(p, sc, section);
    drawCurve(p, sc, section, true, kRa);
    drawCurve(p, sc, section, false, kDec);
    drawDropped(p, sc, section);
    p.restore();
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(area);
    int dropped = 0;
    for (const LoggedFrame& f : section.frames)
        dropped += f.dropped ? 1 : 0;
    drawLegend(p, area, dropped);
}

bool isPlotPath(const std::string& path)
{
    const QString suffix = QFileInfo(QString::fromStdString(path)).suffix().toLower();
    return suffix == QLatin1String("png") || suffix == QLatin1String("svg");
}

std::string writeGuidePlot(const std::string& path, const GuideLogSection& section, const GuidePlotText& text)
{
    const QString file = QString::fromStdString(path);
    if (!isPlotPath(path))
        return "cannot write " + path + ": the graph is written as .png or .svg";
    QByteArray bytes;
    if (QFileInfo(file).suffix().toLower() == QLatin1String("svg")) {
        QBuffer buffer(&bytes);
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(QSize(kWidth, kHeight));
        svg.setViewBox(QRect(0, 0, kWidth, kHeight));
        svg.setTitle(text.heading);
        svg.setDescription(text.figures);
        QPainter p(&svg);
        drawGuidePlot(p, kWidth, kHeight, section, text);
    } else {
        QImage image(kWidth, kHeight, QImage::Format_RGB32);
        {
            QPainter p(&image);
            drawGuidePlot(p, kWidth, kHeight, section, text);
        }
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "PNG"))
            return "cannot write " + path + ": the PNG could not be encoded";
    }
    // Written whole under a temporary name and renamed: a reader never sees half a picture.
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
        return "cannot write " + path + ": " + out.errorString().toStdString();
    return {};
}

std::string numberedPlotPath(const std::string& path, int number)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    const std::string n = "-" + std::to_string(number);
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path + n;
    return path.substr(0, dot) + n + path.substr(dot);
}
