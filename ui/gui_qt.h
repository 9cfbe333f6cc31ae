// The windowed program: application object and main window.
#pragma once

int runGuiProgram(int argc, char** argv);
