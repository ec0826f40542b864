// The program's entry: the narrow command line names one data set file.
#include <windows.h>

#include "app/MainWindow.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) { return RunProgram(instance, commandLine); }
