#include "plot/GdiPlusCanvasWin32.h"

#include <mutex>

bool FillSurface(IDirectDrawSurface7* surface, uint32_t fill) {
  if (!surface) return false;
  DDBLTFX effects{};
  effects.dwSize = sizeof effects;
  effects.dwFillColor = fill;
  return SUCCEEDED(surface->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &effects));
}

GdiPlusCanvas::GdiPlusCanvas(IDirectDrawSurface7* surface, int width, bool gdiLines)
    : surface_(surface), width_(width), gdiLines_(gdiLines) {}

GdiPlusCanvas::GdiPlusCanvas(HDC dc, int width, bool gdiLines)
    : surface_(nullptr), borrowedDc_(dc), width_(width), gdiLines_(gdiLines) {}

GdiPlusCanvas::~GdiPlusCanvas() { ReleaseGraphics(); }

void GdiPlusCanvas::ReleaseGraphics() {
  // Everything made on the context goes before the context itself.
  font_ = nullptr;
  contextFont_.reset();
  brushes_.clear();
  pens_.clear();
  graphics_.reset();
  if (gdiPen_) {
    SelectObject(dc_, GetStockObject(BLACK_PEN));
    DeleteObject(gdiPen_);
    gdiPen_ = nullptr;
  }
  if (dc_ && surface_) surface_->ReleaseDC(dc_);
  dc_ = nullptr;
  contextPixelsKnown_ = false;
}

bool GdiPlusCanvas::Clear(uint32_t fill) {
  if (!surface_ && !borrowedDc_) return false;
  // A surface whose context is out is locked: the fill must wait for it.
  ReleaseGraphics();
  dcFailed_ = false;
  if (surface_ && !gdiLines_) {
    FillSurface(surface_, fill);
    return true;
  }
  HDC dc = Dc();
  if (!dc) return true;
  HBRUSH brush = CreateSolidBrush(RGB((fill >> 16) & 0xFF, (fill >> 8) & 0xFF, fill & 0xFF));
  RECT all{0, 0, width_, GetDeviceCaps(dc, VERTRES)};
  BITMAP bitmap{};
  if (GetObjectW(GetCurrentObject(dc, OBJ_BITMAP), sizeof bitmap, &bitmap)) all = {0, 0, bitmap.bmWidth, bitmap.bmHeight};
  FillRect(dc, &all, brush);
  DeleteObject(brush);
  return true;
}

HDC GdiPlusCanvas::Dc() {
  if (borrowedDc_) return dc_ = borrowedDc_;
  if (dc_ || dcFailed_ || !surface_) return dc_;
  if (FAILED(surface_->GetDC(&dc_))) {
    dc_ = nullptr;
    dcFailed_ = true;
  }
  return dc_;
}

Gdiplus::Graphics* GdiPlusCanvas::Graphics() {
  if (graphics_ || !Dc()) return graphics_.get();
  graphics_ = std::make_unique<Gdiplus::Graphics>(dc_);
  if (graphics_->GetLastStatus() != Gdiplus::Ok) {
    ReleaseGraphics();
    dcFailed_ = true;
  }
  return graphics_.get();
}

Gdiplus::Pen* GdiPlusCanvas::PenFor(const PlotPen& pen) {
  for (CachedPen& cached : pens_)
    if (cached.pen.argb == pen.argb && cached.pen.width == pen.width) return cached.gdiPen.get();
  pens_.push_back({pen, std::make_unique<Gdiplus::Pen>(Gdiplus::Color(pen.argb), pen.width)});
  return pens_.back().gdiPen.get();
}

Gdiplus::SolidBrush* GdiPlusCanvas::BrushFor(uint32_t argb) {
  for (auto& [colour, brush] : brushes_)
    if (colour == argb) return brush.get();
  brushes_.emplace_back(argb, std::make_unique<Gdiplus::SolidBrush>(Gdiplus::Color(argb)));
  return brushes_.back().second.get();
}

namespace {

// The name of GDI+'s generic sans-serif family. Asked by name through the flat
// interface, because the wrapper's cached generic family outlives a GDI+ session.
std::wstring SansSerifFamilyName() {
  Gdiplus::GpFontFamily* family = nullptr;
  if (Gdiplus::DllExports::GdipGetGenericFontFamilySansSerif(&family) != Gdiplus::Ok || !family) return L"";
  WCHAR name[LF_FACESIZE] = {};
  Gdiplus::Status status = Gdiplus::DllExports::GdipGetFamilyName(family, name, LANG_NEUTRAL);
  Gdiplus::DllExports::GdipDeleteFontFamily(family);
  return status == Gdiplus::Ok ? std::wstring(name) : std::wstring();
}

// Finding a face costs a font enumeration, under Wine about a third of a
// millisecond, and the download preview draws its labels once a packet: the
// fonts found stay until the GDI+ session ends (ReleaseCachedFonts).
struct CachedFont {
  std::wstring family;
  float points;
  std::unique_ptr<Gdiplus::Font> font;
};

std::mutex& FontCacheLock() {
  static std::mutex lock;
  return lock;
}

std::vector<CachedFont>& FontCache() {
  static std::vector<CachedFont> cache;
  return cache;
}

}  // namespace

void ReleaseCachedFonts() {
  std::lock_guard<std::mutex> guard(FontCacheLock());
  FontCache().clear();
}

Gdiplus::Font* GdiPlusCanvas::FontFor(const PlotFont& font) {
  std::wstring family = font.family ? font.family : L"";
  if (font_ && family == fontFamily_ && font.points == fontPoints_) return font_;
  font_ = nullptr;
  contextFont_.reset();
  fontFamily_ = family;
  fontPoints_ = font.points;
  std::lock_guard<std::mutex> guard(FontCacheLock());
  for (const CachedFont& cached : FontCache())
    if (cached.family == family && cached.points == font.points) return font_ = cached.font.get();
  // Wine without the core fonts has neither Arial nor a generic sans-serif
  // family; the labels would then be lost, so common free sans-serif faces
  // follow, and the context's own font comes last.
  const std::wstring candidates[] = {family, SansSerifFamilyName(), L"Liberation Sans", L"DejaVu Sans", L"Tahoma"};
  for (const std::wstring& face : candidates) {
    if (face.empty() || !Gdiplus::FontFamily(face.c_str()).IsAvailable()) continue;
    auto made = std::make_unique<Gdiplus::Font>(face.c_str(), font.points, Gdiplus::FontStyleRegular, Gdiplus::UnitPoint);
    if (made->GetLastStatus() != Gdiplus::Ok) continue;
    font_ = made.get();
    FontCache().push_back({family, font.points, std::move(made)});
    return font_;
  }
  if (dc_) {
    contextFont_ = std::make_unique<Gdiplus::Font>(dc_);
    font_ = contextFont_.get();
  }
  return font_;
}

const PixelRows* GdiPlusCanvas::ContextPixels() {
  if (!dc_) return nullptr;
  if (!contextPixelsKnown_) {
    contextPixelsKnown_ = true;
    contextPixels_ = {};
    // Where the context draws into a 32-bit RGB bitmap whose bits can be had,
    // a line is a few rows of stores there instead of a call and a polygon.
    DIBSECTION dib{};
    if (GetObjectW(GetCurrentObject(dc_, OBJ_BITMAP), sizeof dib, &dib) == sizeof dib && dib.dsBm.bmBits &&
        dib.dsBm.bmBitsPixel == 32 && dib.dsBm.bmWidthBytes % 4 == 0 &&
        (dib.dsBmih.biCompression == BI_RGB ||
         (dib.dsBmih.biCompression == BI_BITFIELDS && dib.dsBitfields[0] == 0xFF0000 &&
          dib.dsBitfields[1] == 0xFF00 && dib.dsBitfields[2] == 0xFF))) {
      const int height = dib.dsBm.bmHeight;
      const int stride = dib.dsBm.bmWidthBytes / 4;
      uint32_t* top = static_cast<uint32_t*>(dib.dsBm.bmBits);
      uint32_t* bottom = top + static_cast<ptrdiff_t>(height - 1) * stride;
      // Which way the rows run: a surface's context may give a positive height
      // (bottom up) over rows kept top down, so one pixel is set through GDI
      // and looked for, and both rows' first pixels are put back.
      const uint32_t topWas = *top, bottomWas = *bottom;
      uint32_t probe = (topWas ^ 0xFFFFFF) & 0xFFFFFF;
      if (probe == (bottomWas & 0xFFFFFF)) probe ^= 1;
      GdiFlush();
      SetPixelV(dc_, 0, 0, RGB((probe >> 16) & 0xFF, (probe >> 8) & 0xFF, probe & 0xFF));
      GdiFlush();
      const bool topDown = (*top & 0xFFFFFF) == probe;
      const bool bottomUp = !topDown && (*bottom & 0xFFFFFF) == probe;
      *top = topWas;
      *bottom = bottomWas;
      if (topDown) contextPixels_ = {top, dib.dsBm.bmWidth, height, stride};
      if (bottomUp) contextPixels_ = {bottom, dib.dsBm.bmWidth, height, -stride};
    }
  }
  if (!contextPixels_.pixels) return nullptr;
  // What GDI+ and GDI still hold back goes out before the bits change.
  if (graphics_) graphics_->Flush(Gdiplus::FlushIntentionSync);
  GdiFlush();
  return &contextPixels_;
}

void GdiPlusCanvas::DrawLine(const PlotPen& pen, PlotPoint from, PlotPoint to) {
  if (gdiLines_) {
    HDC dc = Dc();
    if (!dc) return;
    if (const PixelRows* pixels = ContextPixels()) {
      FillLine(*pixels, from, to, pen.width, pen.argb & 0x00FFFFFF);
      return;
    }
    if (graphics_) graphics_->Flush(Gdiplus::FlushIntentionSync);
    if (!gdiPen_ || gdiPenIs_.argb != pen.argb || gdiPenIs_.width != pen.width) {
      LOGBRUSH brush{BS_SOLID, RGB((pen.argb >> 16) & 0xFF, (pen.argb >> 8) & 0xFF, pen.argb & 0xFF), 0};
      HPEN made = ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_FLAT | PS_JOIN_MITER,
                               static_cast<DWORD>(pen.width + 0.5f), &brush, 0, nullptr);
      if (!made) return;
      SelectObject(dc, made);
      if (gdiPen_) DeleteObject(gdiPen_);
      gdiPen_ = made;
      gdiPenIs_ = pen;
    }
    MoveToEx(dc, from.x, from.y, nullptr);
    LineTo(dc, to.x, to.y);
    return;
  }
  Gdiplus::Graphics* graphics = Graphics();
  if (!graphics) return;
  graphics->DrawLine(PenFor(pen), from.x, from.y, to.x, to.y);
}

void GdiPlusCanvas::DrawText(const std::wstring& text, const PlotFont& font, uint32_t argb, float x, float y) {
  Gdiplus::Graphics* graphics = Graphics();
  if (!graphics) return;
  graphics->DrawString(text.c_str(), static_cast<INT>(text.size()), FontFor(font), Gdiplus::PointF(x, y),
                       BrushFor(argb));
}
