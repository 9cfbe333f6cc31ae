// Message boxes of the program. Every box goes through showMessageBox so that
// tests can observe it without a modal loop blocking them.
#pragma once

#include <QString>
#include <functional>


// Shows a modal box with one OK button and no owner window, unless an
// observer is installed, which then receives the caption and text instead.
void showMessageBox(const QString& caption, const QString& text);
void setMessageBoxObserver(std::function<void(const QString& caption, const QString& text)> observer);

