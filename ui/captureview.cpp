// The capture window.
#include "ui/captureview.h"

#include <QImage>
#include <QPainter>

#include "core/state.h"
#include "ui/videomarks.h"

CaptureView::CaptureView(SharedState& state, QColor lockColour, QWidget* parent)
    : QWidget(parent), state_(state), lockColour_(lockColour)
{
    setGeometry(kX, kY, Picture::width, Picture::height);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The mouse over the video belongs to the application's mouse filter.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CaptureView::paintEvent(QPaintEvent*)
{
    // The marks go on a copy of the frame, pixel for pixel as they always
    // looked: the square and the reticle each invert what they cross (where
    // they cross each other, twice), the lock circle is plain red.
    Picture shown = state_.picture;
    videomarks::xorRegionSquare(shown, state_.regionX, state_.regionY);
    if (state_.reticleOn)
        videomarks::xorReticle(shown, state_.regionX, state_.regionY);
    if (state_.graphSuspended)
        videomarks::drawLockCircle(shown, state_.referenceX, state_.referenceY, lockColour_.rgb() & 0xffffff);
    // The picture's words are 0xffRRGGBB rows: an RGB32 image over the same
    // memory.
    const QImage frame(reinterpret_cast<const uchar*>(shown.bits.data()), Picture::width, Picture::height,
                       Picture::width * 4, QImage::Format_RGB32);
    QPainter p(this);
    p.drawImage(0, 0, frame);
}
