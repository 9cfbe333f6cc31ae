// The virtual LED window "OPTO".
#include "ui/optowin.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <algorithm>

#include "ui/drawing.h"
#include "core/state.h"

namespace {

constexpr int kMinSize = 40;          // smallest saved width or height used
constexpr int kMinPaintHeight = 100;  // the layout is never lower than this
constexpr int kLabelRow = 25;         // room below the squares, above the frame
constexpr int kColumns = 18;
constexpr int kScreenMargin = 100;    // the window starts at least this far inside the screen
constexpr int kNoScreenLimit = 4096;  // size limit when no screen is known

}  // namespace

TOptowin::TOptowin(SharedState& state, PulseMachine& pulses, const DrawingObjects& drawing,
                   QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      state_(state),
      pulses_(pulses),
      drawing_(drawing)
{
    pulses_.setLampsChanged([this] { update(); });
    setWindowTitle(QStringLiteral("OPTO"));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);

    const tparam& p = *state_.params;
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize screenSize = screen ? screen->geometry().size() : QSize();

    // Position: inside the screen, at least 100 pixels from its right and
    // bottom edges.
    int x = std::max(p.optoX, 0);
    int y = std::max(p.optoY, 0);
    if (screenSize.isValid()) {
        x = std::min(x, std::max(0, screenSize.width() - kScreenMargin));
        y = std::min(y, std::max(0, screenSize.height() - kScreenMargin));
    }

    // Size: at least 40 each way; a settings file may hold any size, and a
    // window larger than the screen is of no use (and its backing store could
    // not be allocated), so it is kept within the screen.
    int w = std::max(p.optoWidth, kMinSize);
    int h = std::max(p.optoHeight, kMinSize);
    w = std::min(w, std::max(kMinSize, screenSize.isValid() ? screenSize.width() : kNoScreenLimit));
    h = std::min(h, std::max(kMinSize, screenSize.isValid() ? screenSize.height() : kNoScreenLimit));

    cell = (w - 2 * border) / kColumns;
    top = cell;
    w = kColumns * cell + 2 * border;
    bottom = h - titleHeight - kLabelRow;

    move(x, y);
    resize(w - 2 * border, h - titleHeight - 2 * border);
}

TOptowin::~TOptowin()
{
    pulses_.setLampsChanged({});
}

QSize TOptowin::classicFrameSize() const
{
    return QSize(width() + 2 * border, height() + titleHeight + 2 * border);
}

void TOptowin::PulseRa(int ms) { pulses_.pulse(GuideAxis::Ra, ms); }
void TOptowin::PulseDec(int ms) { pulses_.pulse(GuideAxis::Dec, ms); }
void TOptowin::EndPulseRa() { pulses_.endPulse(GuideAxis::Ra); }
void TOptowin::EndPulseDec() { pulses_.endPulse(GuideAxis::Dec); }

void TOptowin::layOut(int frameWidth, int frameHeight, int* laidOutWidth, int* laidOutHeight)
{
    cell = (frameWidth - 2 * border) / kColumns;
    top = cell;
    *laidOutWidth = kColumns * cell + 2 * border;
    *laidOutHeight = std::max(frameHeight, kMinPaintHeight);
    bottom = *laidOutHeight - titleHeight - kLabelRow;
}

void TOptowin::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);

    int laidOutWidth = 0;
    int laidOutHeight = 0;
    const QSize frame = classicFrameSize();
    layOut(frame.width(), frame.height(), &laidOutWidth, &laidOutHeight);
    state_.params->optoWidth = laidOutWidth;
    state_.params->optoHeight = laidOutHeight;

    // Squares: dark is black with a red outline, lit is white with a black
    // one. Each is the direction of a pulse running on its axis, East, West,
    // North ("-"), South ("+") from the left; a pulse of no length lights none.
    bool lamps[4] = {};
    for (GuideAxis axis : {GuideAxis::Ra, GuideAxis::Dec}) {
        const std::optional<SentPulse>& p = pulses_.running(axis);
        if (!p || p->length == 0)
            continue;
        static constexpr Direction kSquares[4] = {Direction::East, Direction::West, Direction::North,
                                                  Direction::South};
        lamps[std::find(kSquares, kSquares + 4, p->direction) - kSquares] = true;
    }
    const int side = 2 * cell;
    if (side > 1 && bottom - top > 1) {
        for (int i = 0; i < 4; ++i) {
            const bool lit = lamps[i];
            painter.setPen(lit ? QPen(Qt::black, 1) : drawing_.redPen);
            painter.setBrush(lit ? Qt::white : Qt::black);
            // Outline on the first and last pixel of the square, as wide as 2 cells.
            painter.drawRect(QRect(squareLeft(i), top, side - 1, bottom - top - 1));
        }
    }

    painter.setBrush(Qt::NoBrush);
    setOpaqueText(painter, QGuiApplication::font(), Colours::teal);
    drawTextAt(painter, 4 * cell, bottom, QStringLiteral("AD"));
    drawTextAt(painter, 12 * cell, bottom, QStringLiteral("-DEC+"));
}

void TOptowin::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Left: PulseRa(-1000); break;
    case Qt::Key_Right: PulseRa(1000); break;
    case Qt::Key_Up: PulseDec(1000); break;
    case Qt::Key_Down: PulseDec(-1000); break;
    default: QWidget::keyPressEvent(event); return;
    }
}

void TOptowin::moveEvent(QMoveEvent* event)
{
    // The frame's position, which is where the next run places the window.
    state_.params->optoX = pos().x();
    state_.params->optoY = pos().y();
    QWidget::moveEvent(event);
}

void TOptowin::showEvent(QShowEvent* event)
{
    if (!watchingExposure_ && windowHandle()) {
        windowHandle()->installEventFilter(this);
        watchingExposure_ = true;
    }
    QWidget::showEvent(event);
}

bool TOptowin::eventFilter(QObject* watched, QEvent* event)
{
    // The window system asks for the window to be drawn again (shown,
    // uncovered, resized): that ends both pulses and darkens the squares.
    // Repaints of our own for a lamp change do not pass here.
    if (watched == windowHandle() && event->type() == QEvent::Expose && windowHandle()->isExposed()) {
        EndPulseRa();
        EndPulseDec();
    }
    return QWidget::eventFilter(watched, event);
}
