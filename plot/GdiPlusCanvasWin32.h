// The plot canvas of the program: GDI+ on the device context of a DirectDraw
// surface, for the length of one rendering.
#pragma once

#include <windows.h>
#include <ddraw.h>
#include <gdiplus.h>

#include <memory>
#include <vector>

#include "plot/PixelLines.h"
#include "plot/PlotCanvas.h"

// A colour-fill blit of the whole surface (0x00RRGGBB on a 32-bit surface).
bool FillSurface(IDirectDrawSurface7* surface, uint32_t fill);

// The fonts the canvases found stay for later renderings; they must go before
// the GDI+ session ends.
void ReleaseCachedFonts();

class GdiPlusCanvas : public PlotCanvas {
 public:
  // surface may be null (no back buffer): then Clear answers false. gdiLines:
  // the clear through GDI and the lines written into the bits of the
  // surface's context (through GDI with a geometric pen of the same width,
  // flat ends, where the context's bitmap is not 32-bit RGB), the texts
  // through GDI+ as always. For the download preview, drawn once a packet:
  // under Wine a GDI+ line costs about 0.1 ms and a colour-fill blit about
  // 20 ms, a GDI line about half a microsecond and a line written into the
  // bits a few dozen nanoseconds. Both ways take the surface's context once.
  GdiPlusCanvas(IDirectDrawSurface7* surface, int width, bool gdiLines = false);
  // On a device context the caller keeps (a memory context with a DIB section
  // selected), which the canvas draws on and never releases.
  GdiPlusCanvas(HDC dc, int width, bool gdiLines = false);
  // Releases the GDI+ objects and then the device context.
  ~GdiPlusCanvas() override;
  GdiPlusCanvas(const GdiPlusCanvas&) = delete;
  GdiPlusCanvas& operator=(const GdiPlusCanvas&) = delete;

  bool Clear(uint32_t fill) override;
  int Width() const override { return width_; }
  void DrawLine(const PlotPen& pen, PlotPoint from, PlotPoint to) override;
  void DrawText(const std::wstring& text, const PlotFont& font, uint32_t argb, float x, float y) override;

 private:
  // The graphics on the surface's device context, made at the first drawing;
  // null when the context cannot be had (a lost surface).
  Gdiplus::Graphics* Graphics();
  // The surface's device context, taken at the first use; null when it cannot be had.
  HDC Dc();
  // The bits under the context, ready to be written; null where they cannot be.
  const PixelRows* ContextPixels();
  void ReleaseGraphics();
  Gdiplus::Pen* PenFor(const PlotPen& pen);
  Gdiplus::SolidBrush* BrushFor(uint32_t argb);
  Gdiplus::Font* FontFor(const PlotFont& font);

  IDirectDrawSurface7* surface_;
  // The caller's context, when the canvas draws on one instead of a surface.
  HDC borrowedDc_ = nullptr;
  int width_;
  bool gdiLines_;
  HDC dc_ = nullptr;
  HPEN gdiPen_ = nullptr;
  PlotPen gdiPenIs_;
  bool contextPixelsKnown_ = false;
  PixelRows contextPixels_;
  bool dcFailed_ = false;
  std::unique_ptr<Gdiplus::Graphics> graphics_;
  struct CachedPen {
    PlotPen pen;
    std::unique_ptr<Gdiplus::Pen> gdiPen;
  };
  std::vector<CachedPen> pens_;
  std::vector<std::pair<uint32_t, std::unique_ptr<Gdiplus::SolidBrush>>> brushes_;
  std::wstring fontFamily_;
  float fontPoints_ = 0;
  Gdiplus::Font* font_ = nullptr;  // a cached face or contextFont_
  std::unique_ptr<Gdiplus::Font> contextFont_;
};
