// The capture window.
#include "ui/captureview.h"

#include <QImage>
#include <QPainter>

#include "core/state.h"

CaptureView::CaptureView(SharedState& state, QWidget* parent) : QWidget(parent), state_(state)
{
    setGeometry(kX, kY, Picture::width, Picture::height);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The mouse over the video belongs to the application's mouse filter.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CaptureView::paintEvent(QPaintEvent*)
{
    // The picture's words are 0xffRRGGBB rows: an RGB32 image over the same
    // memory, with no copy.
    const QImage frame(reinterpret_cast<const uchar*>(state_.picture.bits.data()), Picture::width,
                       Picture::height, Picture::width * 4, QImage::Format_RGB32);
    QPainter p(this);
    p.drawImage(0, 0, frame);
}
