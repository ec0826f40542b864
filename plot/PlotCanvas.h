// What the plot renderer draws on: the back buffer under GDI+ in the program, a
// recording in the tests, a raster image in ulktool. A canvas only clears,
// draws lines and draws text; everything else is the renderer's.
#pragma once

#include <cstdint>
#include <string>

// Colours are ARGB as GDI+ takes them.
constexpr uint32_t kPlotBlue = 0xFF0000FF;
constexpr uint32_t kPlotRed = 0xFFFF0000;
constexpr uint32_t kPlotGreen = 0xFF008000;

struct PlotPoint {
  int x = 0;
  int y = 0;
  bool operator==(const PlotPoint&) const = default;
};

struct PlotPen {
  uint32_t argb = kPlotBlue;
  float width = 1.0f;
};

// A regular face of a family at a size in points; a canvas that lacks the
// family uses the generic sans-serif one.
struct PlotFont {
  const wchar_t* family = L"Arial";
  float points = 12.0f;
};

class PlotCanvas {
 public:
  virtual ~PlotCanvas() = default;

  // Fills the whole surface with a fill value as a colour-fill blit takes it
  // (0x00RRGGBB on a 32-bit surface). False when there is no surface at all;
  // the renderer then draws nothing more.
  virtual bool Clear(uint32_t fill) = 0;
  // The surface's width in pixels.
  virtual int Width() const = 0;
  // One straight line with flat ends, not antialiased, as a GDI+ pen draws it.
  virtual void DrawLine(const PlotPen& pen, PlotPoint from, PlotPoint to) = 0;
  // Text with (x, y) as the top-left corner of its layout box.
  virtual void DrawText(const std::wstring& text, const PlotFont& font, uint32_t argb, float x, float y) = 0;
};
