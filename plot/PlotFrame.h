// The plot's frame: which part of time and value the main window's client area shows.
#pragma once

#include <cstdint>

struct PlotFrame {
  int32_t xOrigin = 0;
  int32_t yMin = 0;
  int32_t xSpan = 100;
  int32_t ySpan = 100;
  int32_t width = 0;
  int32_t height = 0;
};
