// The push buttons and check boxes of the windows: each placed at client
// pixels and named by its control id (its object name and its "id"
// property), by which the windows and their tests find it.
#pragma once

class QCheckBox;
class QPushButton;
class QString;
class QWidget;

// Names a control by its id and places it.
void placeControl(QWidget* control, int id, int x, int y, int width, int height);

// A push button, never a default button.
QPushButton* makeButton(QWidget* parent, int id, const QString& text, int x, int y, int width, int height);

// A 13 x 13 check box; its label is painted beside it by the window.
QCheckBox* makeCheckBox(QWidget* parent, int id, int x, int y);
