// The drawing objects the main window creates once and every window shares:
// the label font and the five pens.
#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPen>
#include <QString>

struct DrawingObjects {
    QFont labelFont;
    QPen greyPen{QColor(100, 100, 100), 1};
    QPen greyFramePen{QColor(100, 100, 100), 2};
    QPen redPen{QColor(255, 0, 0), 1};
    QPen orangePen{QColor(254, 120, 0), 1};
    QPen yellowPen{QColor(255, 255, 0), 1};

    DrawingObjects()
    {
        // The label boxes are 14 pixels high: a small sans-serif face with a
        // 13-pixel cell fits them.
        labelFont = QFont(QStringLiteral("DejaVu Sans"));
        labelFont.setStyleHint(QFont::SansSerif);
        labelFont.setPixelSize(10);
        labelFont.setWeight(QFont::Normal);
    }
};

// Writes a text with the top-left corner of its cell at (x, y), in the
// painter's font, pen and background mode, as every label of the program is placed.
inline void drawTextAt(QPainter& p, int x, int y, const QString& text)
{
    p.drawText(QRect(x, y, 400, 60), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, text);
}

// Text in this font and colour, drawn opaque on black: the monitoring
// panels' readouts and the LED window's labels.
inline void setOpaqueText(QPainter& p, const QFont& font, const QColor& colour)
{
    p.setFont(font);
    p.setPen(colour);
    p.setBackgroundMode(Qt::OpaqueMode);
    p.setBackground(Qt::black);
}

// Colours used by more than one window.
namespace Colours {
inline const QColor amber(240, 176, 0);
inline const QColor labelYellow(240, 240, 0);
inline const QColor saturation(255, 0, 0);
inline const QColor teal(0, 160, 160);
}  // namespace Colours
