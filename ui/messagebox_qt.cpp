// Message boxes and beeps, each routed through one function.
#include "ui/messagebox_qt.h"

#include <QApplication>
#include <QMessageBox>

namespace {
std::function<void(const QString&, const QString&)>& observer()
{
    static std::function<void(const QString&, const QString&)> o;
    return o;
}

std::function<void()>& beepObserver()
{
    static std::function<void()> o;
    return o;
}
}  // namespace

void setMessageBoxObserver(std::function<void(const QString&, const QString&)> o)
{
    observer() = std::move(o);
}

void showMessageBox(const QString& caption, const QString& text)
{
    if (observer()) {
        observer()(caption, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
    box.exec();
}

void setBeepObserver(std::function<void()> o)
{
    beepObserver() = std::move(o);
}

void beep()
{
    if (beepObserver())
        beepObserver()();
    else
        QApplication::beep();
}
