#include "plot/PixelLines.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

void FillLine(const PixelRows& rows, PlotPoint from, PlotPoint to, float width, uint32_t value) {
  if (!rows.pixels || rows.width <= 0 || rows.height <= 0 || !(width > 0) || from == to) return;
  const double dx = static_cast<double>(to.x) - from.x;
  const double dy = static_cast<double>(to.y) - from.y;
  const double length = std::hypot(dx, dy);
  const double half = width / 2.0;
  // Half the pen across the line.
  const double nx = -dy / length * half;
  const double ny = dx / length * half;
  const double cornerX[4] = {from.x + nx, to.x + nx, to.x - nx, from.x - nx};
  const double cornerY[4] = {from.y + ny, to.y + ny, to.y - ny, from.y - ny};
  const double top = std::min({cornerY[0], cornerY[1], cornerY[2], cornerY[3]});
  const double bottom = std::max({cornerY[0], cornerY[1], cornerY[2], cornerY[3]});
  const double firstRow = std::max(0.0, std::ceil(top));
  const double lastRow = std::min(static_cast<double>(rows.height - 1), std::floor(bottom));
  for (double y = firstRow; y <= lastRow; ++y) {
    // Where this row of pixel centres enters and leaves the rectangle.
    double left = HUGE_VAL;
    double right = -HUGE_VAL;
    for (int edge = 0; edge < 4; ++edge) {
      const double ax = cornerX[edge], ay = cornerY[edge];
      const double bx = cornerX[(edge + 1) % 4], by = cornerY[(edge + 1) % 4];
      if (ay == by) {
        if (ay != y) continue;
        left = std::min({left, ax, bx});
        right = std::max({right, ax, bx});
      } else if (y >= std::min(ay, by) && y <= std::max(ay, by)) {
        const double x = ax + (y - ay) * (bx - ax) / (by - ay);
        left = std::min(left, x);
        right = std::max(right, x);
      }
    }
    const double firstColumn = std::max(0.0, std::ceil(left));
    const double lastColumn = std::min(static_cast<double>(rows.width - 1), std::floor(right));
    if (firstColumn > lastColumn) continue;
    uint32_t* row = rows.pixels + static_cast<std::ptrdiff_t>(y) * rows.pitch;
    std::fill(row + static_cast<std::ptrdiff_t>(firstColumn), row + static_cast<std::ptrdiff_t>(lastColumn) + 1, value);
  }
}
