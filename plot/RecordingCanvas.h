// A canvas that keeps every call, for tests and for counting drawing work.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "plot/PlotCanvas.h"

struct CanvasCall {
  enum Kind { Clear, Line, Text };
  Kind kind = Clear;
  uint32_t fill = 0;        // Clear
  PlotPen pen;              // Line
  PlotPoint from, to;       // Line
  std::wstring text;        // Text
  std::wstring fontFamily;  // Text
  float fontPoints = 0;     // Text
  uint32_t argb = 0;        // Text
  float x = 0, y = 0;       // Text
};

class RecordingCanvas : public PlotCanvas {
 public:
  // A canvas without a surface answers Clear with false, as a missing back buffer does.
  explicit RecordingCanvas(int width = 640, bool hasSurface = true) : width_(width), hasSurface_(hasSurface) {}

  bool Clear(uint32_t fill) override;
  int Width() const override { return width_; }
  void DrawLine(const PlotPen& pen, PlotPoint from, PlotPoint to) override;
  void DrawText(const std::wstring& text, const PlotFont& font, uint32_t argb, float x, float y) override;

  std::vector<CanvasCall> Of(CanvasCall::Kind kind) const;
  // Lines drawn with exactly this colour and width.
  std::vector<CanvasCall> LinesWith(uint32_t argb, float width) const;
  size_t LineCount() const { return lineCount_; }

  std::vector<CanvasCall> calls;
  // Counting only: lines are counted but not kept (benchmarks).
  bool keepLines = true;

 private:
  int width_;
  bool hasSurface_;
  size_t lineCount_ = 0;
};
