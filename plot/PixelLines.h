// Lines drawn straight into 32-bit pixels. The download preview draws a few
// thousand short lines a packet; through a graphics library each costs a call
// and a polygon of its own, here a few rows of stores.
#pragma once

#include <cstdint>

#include "plot/PlotCanvas.h"

// A block of 32-bit pixels owned by someone else; `pixels` is the top row and
// `pitch` the pixels from the start of one row to the start of the next
// (negative for a bitmap kept bottom up).
struct PixelRows {
  uint32_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int pitch = 0;
};

// A line with flat ends, not antialiased, as a pen of `width` pixels draws it:
// the pixels whose centres (at integer coordinates) lie in the rectangle that
// runs from `from` to `to` with width / 2 on either side, clipped to the block.
// A line from a point to itself draws nothing.
void FillLine(const PixelRows& rows, PlotPoint from, PlotPoint to, float width, uint32_t value);
