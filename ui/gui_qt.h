// The windowed program: application object and main window.
#pragma once

#include <string>

// Options of the windowed program on the command line.
struct GuiOptions {
    std::string logPath;  // --log FILE: the guide log while tracking
};

int runGuiProgram(int argc, char** argv, const GuiOptions& options);
