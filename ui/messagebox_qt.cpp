// Message boxes, routed through one function.
#include "ui/messagebox_qt.h"

#include <QMessageBox>

namespace {
std::function<void(const QString&, const QString&)>& observer()
{
    static std::function<void(const QString&, const QString&)> o;
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
