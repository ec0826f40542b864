#include "app/MainWindowSurfaces.h"

#include "device/Altimeter.h"
#include "plot/PlotSurfaces.h"

void SetPlotSize(HWND, int width, int height) {
  SetBackBufferSize(width, height);
  CAltimeter& altimeter = Altimeter();
  altimeter.plotFrame.width = width;
  altimeter.plotFrame.height = height;
}

PlotSize CurrentPlotSize() {
  PlotSize size;
  BackBufferSize(size.width, size.height);
  return size;
}

bool CreatePlotSurfaces(HWND window, bool quiet) { return CreateSurfaces(window, quiet); }
void ReleasePlotSurfaces() { ReleaseSurfaces(); }
bool PresentPlotSurfaces(int width, int height) { return PresentPlot(width, height); }
void RedrawPlot() { RequestRedraw(); }
