#include "app/MainWindowSurfaces.h"

#include "app/MainWindow.h"
#include "device/Altimeter.h"

#if __has_include("plot/PlotSurfaces.h")
#include "plot/PlotSurfaces.h"
#define ULK_PLOT_SURFACES 1
#endif

#ifdef ULK_PLOT_SURFACES

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

#else

// Until the plot's Win32 layer is built in, the window keeps its size records
// and asks for repaints, but has no surfaces to draw or present.
namespace {
PlotSize g_size{640, 480};
}

void SetPlotSize(HWND, int width, int height) {
  g_size = {width, height};
  CAltimeter& altimeter = Altimeter();
  altimeter.plotFrame.width = width;
  altimeter.plotFrame.height = height;
}

PlotSize CurrentPlotSize() { return g_size; }
bool CreatePlotSurfaces(HWND, bool) { return false; }
void ReleasePlotSurfaces() {}
bool PresentPlotSurfaces(int, int) { return false; }

void RedrawPlot() {
  if (HWND window = MainWindowHandle()) InvalidateRect(window, nullptr, FALSE);
}

#endif
