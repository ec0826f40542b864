// The main window's use of the plot's drawing surfaces: one place that knows
// the plot layer's calls, so the window procedure reads as the steps it takes.
#pragma once

#include <windows.h>

struct PlotSize {
  int width = 0;
  int height = 0;
};

// The back buffer's size and the plot frame's width and height, both the client size.
void SetPlotSize(HWND window, int width, int height);
PlotSize CurrentPlotSize();
// quiet: a failure ends the program without a message.
bool CreatePlotSurfaces(HWND window, bool quiet);
void ReleasePlotSurfaces();
// Blits the back buffer to the client area.
bool PresentPlotSurfaces(int width, int height);
// Renders the plot into the back buffer and invalidates the main window.
void RedrawPlot();
