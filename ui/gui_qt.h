// The windowed program: application object and main window.
#pragma once

#include <string>

// Options of the windowed program on the command line.
struct GuiOptions {
    std::string logPath;  // --log FILE: the guide log while tracking
    // --server [--port P] [--listen ADDR]: PHD2's event server beside the window.
    bool server = false;
    int serverPort = 4400;
    std::string serverAddress = "127.0.0.1";
};

int runGuiProgram(int argc, char** argv, const GuiOptions& options);
