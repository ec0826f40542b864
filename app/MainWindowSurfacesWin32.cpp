#include "app/MainWindowSurfaces.h"

#include "device/Altimeter.h"

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
