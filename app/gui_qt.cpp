// The windowed program.
#include "app/gui_qt.h"

#include "app/ravozuzwin.h"

int runGuiProgram(int argc, char** argv)
{
    TcamApp app;
    return app.run(argc, argv);
}
