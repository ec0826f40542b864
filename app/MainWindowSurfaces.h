// The main window's use of the plot's drawing surfaces: their own operations
// (CreateSurfaces, ReleaseSurfaces, PresentPlot, RequestRedraw) and the size
// that the client area gives both the back buffer and the plot frame.
#pragma once

#include <windows.h>

#include "plot/PlotSurfaces.h"

struct PlotSize {
  int width = 0;
  int height = 0;
};

// The back buffer's size and the plot frame's width and height, both the client size.
void SetPlotSize(HWND window, int width, int height);
PlotSize CurrentPlotSize();
