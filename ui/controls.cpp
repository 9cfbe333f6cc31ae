// The windows' buttons and check boxes.
#include "ui/controls.h"

#include <QCheckBox>
#include <QPushButton>
#include <QString>

void placeControl(QWidget* control, int id, int x, int y, int width, int height)
{
    control->setObjectName(QString::number(id));
    control->setProperty("id", id);
    control->setGeometry(x, y, width, height);
}

QPushButton* makeButton(QWidget* parent, int id, const QString& text, int x, int y, int width, int height)
{
    auto* b = new QPushButton(text, parent);
    placeControl(b, id, x, y, width, height);
    b->setAutoDefault(false);
    return b;
}

QCheckBox* makeCheckBox(QWidget* parent, int id, int x, int y)
{
    auto* c = new QCheckBox(parent);
    placeControl(c, id, x, y, 13, 13);
    return c;
}
