// A canvas over a Cairo image in memory, written out as PNG (ulktool, tests,
// benchmarks). Lines are drawn without antialiasing, as GDI+ draws them by
// default; text is drawn in a regular sans-serif face.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "plot/PlotCanvas.h"

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

class RasterCanvas : public PlotCanvas {
 public:
  // Starts black, as a newly made back buffer is cleared.
  RasterCanvas(int width, int height);
  ~RasterCanvas() override;
  RasterCanvas(const RasterCanvas&) = delete;
  RasterCanvas& operator=(const RasterCanvas&) = delete;

  // False when the image could not be made (size out of range, no memory).
  bool Valid() const { return cairo_ != nullptr; }

  bool Clear(uint32_t fill) override;
  int Width() const override { return width_; }
  int Height() const { return height_; }
  void DrawLine(const PlotPen& pen, PlotPoint from, PlotPoint to) override;
  void DrawText(const std::wstring& text, const PlotFont& font, uint32_t argb, float x, float y) override;

  bool WritePng(const std::string& path);
  bool WritePng(std::ostream& out);
  // 0x00RRGGBB; 0 outside the image.
  uint32_t Pixel(int x, int y);
  // Every pixel, row by row, as Pixel gives it.
  std::vector<uint32_t> Pixels();

  static constexpr int kMaxSide = 8192;

 private:
  struct SurfaceRelease {
    void operator()(cairo_surface_t* surface) const;
  };
  struct ContextRelease {
    void operator()(cairo_t* cairo) const;
  };
  // Strokes the lines gathered so far.
  void Flush();

  int width_;
  int height_;
  bool pending_ = false;
  PlotPen pendingPen_;
  std::unique_ptr<cairo_surface_t, SurfaceRelease> surface_;
  std::unique_ptr<cairo_t, ContextRelease> cairo_;
};
