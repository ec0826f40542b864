#include "plot/PixelLines.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <set>
#include <utility>
#include <vector>

namespace {

constexpr uint32_t kPaper = 0x00808080;
constexpr uint32_t kInk = 0x00FF0000;
constexpr uint32_t kGuard = 0xDEADBEEF;

// A 20 x 12 block inside a larger buffer whose margin (right of each row and
// below the last) must never be written.
struct Block {
  static constexpr int kWidth = 20, kHeight = 12, kPitch = 24;
  std::vector<uint32_t> buffer = std::vector<uint32_t>(kPitch * (kHeight + 2), kGuard);
  Block() {
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) buffer[static_cast<size_t>(y * kPitch + x)] = kPaper;
  }
  PixelRows Rows() { return {buffer.data(), kWidth, kHeight, kPitch}; }
  uint32_t At(int x, int y) const { return buffer[static_cast<size_t>(y * kPitch + x)]; }
  std::set<std::pair<int, int>> Inked() const {
    std::set<std::pair<int, int>> inked;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        if (At(x, y) == kInk) inked.insert({x, y});
    return inked;
  }
  bool MarginUntouched() const {
    for (int y = 0; y < kHeight + 2; ++y)
      for (int x = 0; x < kPitch; ++x)
        if ((x >= kWidth || y >= kHeight) && At(x, y) != kGuard) return false;
    return true;
  }
};

std::set<std::pair<int, int>> Rectangle(int x0, int x1, int y0, int y1) {
  std::set<std::pair<int, int>> pixels;
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) pixels.insert({x, y});
  return pixels;
}

TEST(PixelLinesTest, AxisLinesCoverTheirPenWidthAcrossAndTheirLengthAlong) {
  struct Case {
    PlotPoint from, to;
    float width;
    std::set<std::pair<int, int>> expected;
  } cases[] = {
      // Three pixels across, centred on the line, end to end inclusive.
      {{2, 5}, {8, 5}, 3.0f, Rectangle(2, 8, 4, 6)},
      {{8, 5}, {2, 5}, 3.0f, Rectangle(2, 8, 4, 6)},
      {{5, 2}, {5, 9}, 3.0f, Rectangle(4, 6, 2, 9)},
      {{5, 2}, {5, 9}, 1.0f, Rectangle(5, 5, 2, 9)},
      // Off the block on every side: what lies inside is drawn, nothing else.
      {{-30, 0}, {50, 0}, 3.0f, Rectangle(0, 19, 0, 1)},
      {{19, -40}, {19, 40}, 3.0f, Rectangle(18, 19, 0, 11)},
      {{INT_MIN, 11}, {INT_MAX, 11}, 3.0f, Rectangle(0, 19, 10, 11)},
      // Nothing: a point, no width, a line wholly outside.
      {{4, 4}, {4, 4}, 3.0f, {}},
      {{2, 5}, {8, 5}, 0.0f, {}},
      {{2, 5}, {8, 5}, NAN, {}},
      {{-10, -10}, {-2, -10}, 3.0f, {}},
      {{INT_MIN, INT_MIN}, {INT_MAX, INT_MIN}, 3.0f, {}},
  };
  for (const Case& c : cases) {
    Block block;
    FillLine(block.Rows(), c.from, c.to, c.width, kInk);
    EXPECT_EQ(block.Inked(), c.expected) << c.from.x << "," << c.from.y << " to " << c.to.x << "," << c.to.y;
    EXPECT_TRUE(block.MarginUntouched());
    // The same block kept bottom up: its top row last in memory.
    Block flipped;
    PixelRows up = flipped.Rows();
    up.pixels += (Block::kHeight - 1) * Block::kPitch;
    up.pitch = -Block::kPitch;
    FillLine(up, c.from, c.to, c.width, kInk);
    std::set<std::pair<int, int>> mirrored;
    for (const auto& [x, y] : flipped.Inked()) mirrored.insert({x, Block::kHeight - 1 - y});
    EXPECT_EQ(mirrored, c.expected);
    EXPECT_TRUE(flipped.MarginUntouched());
  }
}

// Slanted lines against a second way of asking the same question: a pixel
// centre is drawn when it lies within half the pen of the line and between
// its two ends.
TEST(PixelLinesTest, SlantedLinesCoverThePixelCentresWithinHalfThePenOfTheLine) {
  const std::pair<PlotPoint, PlotPoint> lines[] = {
      {{1, 1}, {17, 9}}, {{17, 1}, {2, 10}}, {{3, 11}, {6, 0}}, {{0, 6}, {19, 7}}, {{-8, 14}, {25, -3}}};
  for (float width : {1.0f, 3.0f, 15.0f}) {
    for (const auto& [from, to] : lines) {
      Block block;
      FillLine(block.Rows(), from, to, width, kInk);
      // In whole numbers, so that the pixels on the rectangle's edge are not left to rounding.
      const long long dx = to.x - from.x, dy = to.y - from.y, squaredLength = dx * dx + dy * dy;
      std::set<std::pair<int, int>> expected;
      for (int y = 0; y < Block::kHeight; ++y)
        for (int x = 0; x < Block::kWidth; ++x) {
          const long long along = (x - from.x) * dx + (y - from.y) * dy;
          const long long across = (x - from.x) * dy - (y - from.y) * dx;
          const double halfPen = width / 2.0;
          if (along >= 0 && along <= squaredLength &&
              static_cast<double>(across * across) <= halfPen * halfPen * static_cast<double>(squaredLength))
            expected.insert({x, y});
        }
      EXPECT_FALSE(expected.empty());
      EXPECT_EQ(block.Inked(), expected) << "width " << width << " from " << from.x << "," << from.y;
      EXPECT_TRUE(block.MarginUntouched());
    }
  }
}

}  // namespace
