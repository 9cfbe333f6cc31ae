// The "Guidage précis" window.
#include "ui/precisewin.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

#include <cmath>
#include <cstring>

#include "ui/drawing.h"

namespace {

constexpr int kWidth = 280;
constexpr int kLineHeight = 16;
constexpr int kMargin = 8;
constexpr int kMinLines = 8;  // the height of a calibration's result, the window's least

// A number with a decimal comma: "0,23".
QString fr(double v, int decimals)
{
    return QString::number(v, 'f', decimals).replace(QLatin1Char('.'), QLatin1Char(','));
}

// A signed number with a decimal comma, its sign always written: "+0,23",
// "-0,11"; what rounds to zero is "+0,00".
QString signedFr(double v, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    const double rounded = std::round(v * scale) / scale;
    return (rounded < 0 ? QStringLiteral("-") : QStringLiteral("+")) + fr(std::abs(rounded), decimals);
}

// The calibration's step in French: "West 3" is "Ouest 3".
QString stepFr(const std::string& step)
{
    static const std::pair<const char*, const char*> kNames[] = {
        {"West", "Ouest"}, {"East", "Est"}, {"Backlash", "Jeu DEC"}, {"North", "Nord"}, {"South", "Sud"}};
    QString s = QString::fromStdString(step);
    for (const auto& [english, french] : kNames)
        if (s.startsWith(QLatin1String(english)))
            return QString::fromUtf8(french) + s.mid(int(std::strlen(english)));
    return s;
}

}  // namespace

QStringList preciseStatusLines(const PreciseStatus& s)
{
    using Calib = PreciseStatus::Calib;
    QStringList lines;
    lines << (s.on ? QStringLiteral("Guidage précis : activé") : QStringLiteral("Guidage précis : désactivé"));
    bool result = false;
    switch (s.calib) {
    case Calib::Running:
        lines << QStringLiteral("Calibration : ") +
                     (s.step.empty() ? QStringLiteral("en cours") : stepFr(s.step));
        break;
    case Calib::Failed:
        lines << QStringLiteral("Calibration : échec");
        lines << QString::fromStdString(s.errorFr);
        break;
    case Calib::Done:
        lines << QStringLiteral("Calibration : terminée");
        result = true;
        break;
    case Calib::None:
        if (s.calibrated) {
            lines << QStringLiteral("Calibration : enregistrée");
            result = true;
        } else {
            lines << QStringLiteral("Calibration : aucune");
        }
        break;
    }
    if (result) {
        lines << QStringLiteral("Angle de la caméra : %1°").arg(fr(s.angleDeg, 1));
        lines << QStringLiteral("Vitesses : AD %1 px/s  DEC %2 px/s").arg(fr(s.raRatePxS, 2), fr(s.decRatePxS, 2));
        QString flipped = QStringLiteral("aucun");
        if (s.raFlipped && s.decFlipped)
            flipped = QStringLiteral("AD et DEC");
        else if (s.raFlipped)
            flipped = QStringLiteral("AD");
        else if (s.decFlipped)
            flipped = QStringLiteral("DEC");
        lines << QStringLiteral("Axes inversés : ") + flipped;
        lines << QStringLiteral("Erreur d'orthogonalité : %1°").arg(fr(s.orthoErrDeg, 1));
        if (!s.calibrated)
            lines << QStringLiteral("(ne convient pas à la sortie, la caméra ou l'échelle)");
    }
    if (s.haveError)
        lines << QStringLiteral("Erreur : X %1 px  Y %2 px").arg(signedFr(s.errX, 2), signedFr(s.errY, 2));
    else
        lines << QStringLiteral("Erreur : -");
    return lines;
}

TPrecisewin::TPrecisewin(PreciseMode& precise, const DrawingObjects& drawing, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      precise_(precise),
      drawing_(drawing)
{
    setWindowTitle(QStringLiteral("Guidage précis"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    font_ = drawing_.labelFont;
    font_.setPixelSize(12);
    lines_ = preciseStatusLines(precise_.status());
    fitHeight();
    wasOn_ = precise_.status().on;
    wasCalibrating_ = precise_.status().calib == PreciseStatus::Calib::Running;
    listener_ = precise_.addListener([this] { statusChanged(); });
}

TPrecisewin::~TPrecisewin()
{
    precise_.removeListener(listener_);
}

void TPrecisewin::statusChanged()
{
    const PreciseStatus& s = precise_.status();
    lines_ = preciseStatusLines(s);
    fitHeight();
    const bool calibrating = s.calib == PreciseStatus::Calib::Running;
    if ((s.on && !wasOn_) || (calibrating && !wasCalibrating_)) {
        show();
        raise();
    }
    wasOn_ = s.on;
    wasCalibrating_ = calibrating;
    update();
}

QRect TPrecisewin::lineBox(const QString& line, int top) const
{
    // A long line (a refusal's reason) wraps within the window's width.
    return QFontMetrics(font_).boundingRect(QRect(kMargin, top, kWidth - 2 * kMargin, 1000),
                                            Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, line);
}

void TPrecisewin::fitHeight()
{
    int bottom = kMargin;
    for (const QString& line : lines_)
        bottom += std::max(kLineHeight, lineBox(line, bottom).height());
    setFixedSize(kWidth, std::max(bottom, kMargin + kMinLines * kLineHeight) + kMargin);
}

void TPrecisewin::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(100, 100, 100));
    p.setFont(font_);
    int top = kMargin;
    for (int i = 0; i < lines_.size(); ++i) {
        // The state of the mode and of the calibration in yellow, the rest white.
        p.setPen(i < 2 ? Colours::labelYellow : QColor(Qt::white));
        const QRect box = lineBox(lines_[i], top);
        p.drawText(QRect(kMargin, top, kWidth - 2 * kMargin, box.height()),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, lines_[i]);
        top += std::max(kLineHeight, box.height());
    }
}
