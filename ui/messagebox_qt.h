// Message boxes and beeps of the program. Every box goes through
// showMessageBox, every beep through beep, so that tests can observe them
// without a modal loop blocking them or a sound.
#pragma once

#include <QString>
#include <functional>

// Shows a modal box with one OK button and no owner window, unless an
// observer is installed, which then receives the caption and text instead.
void showMessageBox(const QString& caption, const QString& text);
void setMessageBoxObserver(std::function<void(const QString& caption, const QString& text)> observer);

// The beep of the check boxes that ask for one, unless an observer is
// installed, which is then called instead.
void beep();
void setBeepObserver(std::function<void()> observer);
