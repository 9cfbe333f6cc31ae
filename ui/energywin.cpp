// The energy graph window: error counting, the off-screen picture and the two
// copies that bring it to the window around the buttons.
#include "ui/energywin.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPaintEvent>
#include <QPushButton>

#include "ui/controls.h"
#include "ui/graphscale.h"

namespace {
constexpr int kBarFull = 150;        // the fullest bin's bar, pixels
constexpr int kAdBaseline = 170;
constexpr int kDecBaseline = 350;
// The graphs reach the window in two pieces, so the buttons between
// y = 385 and 435 are never drawn over.
const QRect kGraphArea(0, 0, 100, 355);
const QRect kClockBand(0, 440, 100, 20);
constexpr int kClockBandTarget = 435;
constexpr int kClockY = 445;
}  // namespace

specwin::specwin(SharedState& state, GuidingSession& session, const DrawingObjects& drawing,
                 QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      state_(state),
      session_(session),
      drawing_(drawing),
      offscreen_(kWidth, kHeight, QImage::Format_RGB32),
      shown_(kWidth, kHeight, QImage::Format_RGB32)
{
    setWindowTitle(QStringLiteral("Energie"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    move(state_.mainX + kOffsetFromMain, state_.mainY);
    setFixedSize(kWidth, kHeight);
    offscreen_.fill(Qt::black);
    shown_.fill(Qt::black);

    suspendButton_ = makeButton(this, kSuspendId, QString(), 10, 385, 80, 20);
    resetButton_ = makeButton(this, kResetId, QStringLiteral("Reset"), 10, 415, 80, 20);
    connect(suspendButton_, &QPushButton::clicked, this, &specwin::ToggleSuspend);
    connect(resetButton_, &QPushButton::clicked, this, &specwin::ResetGraph);

    clearCounters();
    startTick = state_.clock.nowMs();
    listener_ = session_.addListener([this](const SessionEvent& e) { sessionChanged(e); });
    hide();
}

specwin::~specwin()
{
    session_.removeListener(listener_);
}

QPushButton* specwin::button(int id) const
{
    if (id == kSuspendId)
        return suspendButton_;
    if (id == kResetId)
        return resetButton_;
    return nullptr;
}

void specwin::clearCounters()
{
    binsX.fill(0);
    binsY.fill(0);
    binsX[graphscale::kZeroErrorBin] = 1;
    binsY[graphscale::kZeroErrorBin] = 1;
}

void specwin::ResetGraph()
{
    clearCounters();
    suspendButton_->setText(QStringLiteral("Suspend"));
    // A suspended guiding is over: tracking stays off, the lock is let go,
    // and whoever follows the session (the event server) hears of it.
    if (state_.graphSuspended)
        session_.stopTracking();
    startTick = state_.clock.nowMs();
}

void specwin::ToggleSuspend()
{
    if (state_.graphSuspended)
        session_.resume();
    else
        session_.suspend();
}

void specwin::sessionChanged(const SessionEvent& e)
{
    // Whoever suspended or resumed guiding (this button or a client of the
    // event server), the button and the clock follow. Either way startTick
    // swaps between "clock at zero elapsed" and "elapsed so far", so the
    // clock resumes where it stopped.
    if (e.kind == SessionEvent::Kind::Suspended) {
        startTick = state_.clock.nowMs() - startTick;
        suspendButton_->setText(QStringLiteral("Re-start"));
    } else if (e.kind == SessionEvent::Kind::Resumed) {
        startTick = state_.clock.nowMs() - startTick;
        suspendButton_->setText(QStringLiteral("Suspend"));
    }
}

void specwin::drawBars(QPainter& p, const std::array<uint32_t, 50>& bins, int baseline)
{
    const int64_t m = graphscale::largestOrOne(std::span<const uint32_t>(bins));
    const QColor colour = drawing_.orangePen.color();
    for (int i = 0; i < graphscale::kErrorBins; ++i) {
        const int h = graphscale::linearHeight(bins[i], m, kBarFull);
        const auto r = graphscale::axisLinePixels(2 * i, baseline, 2 * i, baseline - h);
        if (!r.empty())
            p.fillRect(QRect(r.x, r.y, r.width, r.height), colour);
    }
}

void specwin::Plot()
{
    if (state_.graphSuspended)
        return;

    if (auto i = graphscale::errorBin(state_.errorX()))
        ++binsX[*i];
    if (auto i = graphscale::errorBin(state_.errorY()))
        ++binsY[*i];

    offscreen_.fill(Qt::black);
    {
        QPainter p(&offscreen_);
        drawBars(p, binsX, kAdBaseline);
        drawBars(p, binsY, kDecBaseline);

        setOpaqueText(p, drawing_.labelFont, Colours::amber);
        drawTextAt(p, 20, 5, QStringLiteral("X"));
        drawTextAt(p, 20, 190, QStringLiteral("Y"));

        const auto clock = graphscale::clockText(state_.clock.nowMs() - startTick);
        drawTextAt(p, 10, kClockY, QString::fromStdString(clock.hours));
        drawTextAt(p, 40, kClockY, QString::fromStdString(clock.minutes));
        drawTextAt(p, 70, kClockY, QString::fromStdString(clock.seconds));
    }

    const QRect bandTarget(0, kClockBandTarget, kClockBand.width(), kClockBand.height());
    {
        QPainter w(&shown_);
        w.drawImage(kGraphArea.topLeft(), offscreen_, kGraphArea);
        w.drawImage(bandTarget.topLeft(), offscreen_, kClockBand);
    }
    update(kGraphArea);
    update(bandTarget);
}

void specwin::showEvent(QShowEvent* e)
{
    // A window that comes on screen shows black; the graphs come back at the
    // next Plot.
    shown_.fill(Qt::black);
    QWidget::showEvent(e);
}

void specwin::paintEvent(QPaintEvent* e)
{
    QPainter p(this);
    for (const QRect& r : e->region())
        p.drawImage(r.topLeft(), shown_, r);
}
