// The windowed program.
#include "app/gui_qt.h"

#include <QApplication>

#include "app/ravozuzmainwin.h"

int runGuiProgram(int argc, char** argv)
{
    QApplication app(argc, argv);
    RavozuzMainWindow w;
    w.setWindowTitle(QStringLiteral("Quorvel  1.85 + guidage solaire"));
    w.setFixedSize(539, 464);
    w.show();
    return app.exec();
}
