// The windowed program.
#include "ui/gui_qt.h"

#include "ui/ravozuzwin.h"

int runGuiProgram(int argc, char** argv, const GuiOptions& options)
{
    TcamApp app;
    return app.run(argc, argv, options);
}
