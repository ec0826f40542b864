// The DirectDraw surfaces of the plot: made, cleared, drawn into, presented
// and rebuilt under one lock, because the download's worker renders and
// presents the live plot while the main thread redraws and repaints.
#include "plot/PlotSurfaces.h"

#include <deque>
#include <iomanip>
#include <mutex>

#include "device/Altimeter.h"
#include "device/TraceLog.h"
#include "plot/GdiPlusCanvasWin32.h"

namespace {

// A blit that keeps answering "still drawing" despite DDBLT_WAIT is given up.
constexpr int kMaxBlitAttempts = 100;

struct PlotSurfaces {
  std::recursive_mutex lock;
  HWND window = nullptr;
  IDirectDraw7* directDraw = nullptr;
  IDirectDrawSurface7* primary = nullptr;
  IDirectDrawSurface7* backBuffer = nullptr;
  int width = 640;
  int height = 480;
  std::deque<HRESULT> blitResults;
  // Every write, rebuild or release of the back buffer or the preview's picture counts one.
  uint64_t writes = 0;
  // The download preview's picture: a DIB section of the back buffer's size,
  // top-down 32-bit, selected into a memory context; made at the first
  // preview, kept with the surfaces.
  HDC liveDc = nullptr;
  HBITMAP liveBitmap = nullptr;
  HGDIOBJ liveDcHad = nullptr;
  uint32_t* liveBits = nullptr;
  int liveWidth = 0;
  int liveHeight = 0;
  // The preview's picture is what the window is shown, not the back buffer.
  bool liveShown = false;

  ~PlotSurfaces() { Release(); }

  bool MakeLivePicture() {
    if (liveDc && liveWidth == width && liveHeight == height) return true;
    DropLivePicture();
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    liveBitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    liveDc = liveBitmap ? CreateCompatibleDC(nullptr) : nullptr;
    if (!liveDc) {
      DropLivePicture();
      return false;
    }
    liveBits = static_cast<uint32_t*>(bits);
    liveWidth = width;
    liveHeight = height;
    liveDcHad = SelectObject(liveDc, liveBitmap);
    return true;
  }

  void DropLivePicture() {
    liveShown = false;
    if (liveDc) {
      SelectObject(liveDc, liveDcHad);
      DeleteDC(liveDc);
    }
    if (liveBitmap) DeleteObject(liveBitmap);
    liveDc = nullptr;
    liveBitmap = nullptr;
    liveDcHad = nullptr;
    liveBits = nullptr;
  }

  bool PresentLivePicture(int toWidth, int toHeight) {
    HDC target = GetDC(window);
    if (!target) return false;
    SetStretchBltMode(target, COLORONCOLOR);
    const BOOL done = StretchBlt(target, 0, 0, toWidth, toHeight, liveDc, 0, 0, liveWidth, liveHeight, SRCCOPY);
    ReleaseDC(window, target);
    return done != FALSE;
  }

  void Release() {
    ++writes;
    DropLivePicture();
    if (backBuffer) backBuffer->Release();
    backBuffer = nullptr;
    if (primary) primary->Release();
    primary = nullptr;
    if (directDraw) {
      directDraw->SetCooperativeLevel(window, DDSCL_NORMAL);
      directDraw->Release();
    }
    directDraw = nullptr;
  }

  HRESULT Blit(RECT& destination) {
    if (!blitResults.empty()) {
      HRESULT result = blitResults.front();
      blitResults.pop_front();
      return result;
    }
    return primary->Blt(&destination, backBuffer, nullptr, DDBLT_WAIT, nullptr);
  }
};

PlotSurfaces& Surfaces() {
  static PlotSurfaces surfaces;
  return surfaces;
}

void TraceFailure(const char* step, HRESULT result) {
  TraceLog << "Direct Draw: " << step << " failed, 0x" << std::hex << std::setw(8) << std::setfill('0')
           << static_cast<unsigned long>(result) << std::dec << std::setfill(' ') << "." << std::endl;
}

}  // namespace

void SetBackBufferSize(int width, int height) {
  PlotSurfaces& s = Surfaces();
  std::lock_guard<std::recursive_mutex> guard(s.lock);
  s.width = width;
  s.height = height;
}

void BackBufferSize(int& width, int& height) {
  PlotSurfaces& s = Surfaces();
  std::lock_guard<std::recursive_mutex> guard(s.lock);
  width = s.width;
  height = s.height;
}

bool CreateSurfaces(HWND window, bool quiet) {
  PlotSurfaces& s = Surfaces();
  {
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    s.Release();
    s.window = window;
    const char* step = nullptr;
    HRESULT result = DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&s.directDraw), IID_IDirectDraw7, nullptr);
    if (FAILED(result)) {
      s.directDraw = nullptr;
      step = "DirectDrawCreateEx";
    }
    if (!step) {
      result = s.directDraw->SetCooperativeLevel(window, DDSCL_NORMAL);
      if (FAILED(result)) step = "SetCooperativeLevel";
    }
    if (!step) {
      DDSURFACEDESC2 description{};
      description.dwSize = sizeof description;
      description.dwFlags = DDSD_CAPS;
      description.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
      result = s.directDraw->CreateSurface(&description, &s.primary, nullptr);
      if (FAILED(result)) {
        s.primary = nullptr;
        step = "CreateSurface (primary)";
      }
    }
    if (!step) {
      DDSURFACEDESC2 description{};
      description.dwSize = sizeof description;
      description.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
      description.dwWidth = static_cast<DWORD>(s.width);
      description.dwHeight = static_cast<DWORD>(s.height);
      description.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE;
      result = s.width > 0 && s.height > 0 ? s.directDraw->CreateSurface(&description, &s.backBuffer, nullptr)
                                           : DDERR_INVALIDPARAMS;
      if (FAILED(result)) {
        s.backBuffer = nullptr;
        step = "CreateSurface (back buffer)";
      }
    }
    if (!step) {
      IDirectDrawClipper* clipper = nullptr;
      result = s.directDraw->CreateClipper(0, &clipper, nullptr);
      if (FAILED(result)) {
        step = "CreateClipper";
      } else {
        result = clipper->SetHWnd(0, window);
        if (FAILED(result)) step = "SetHWnd";
        if (!step) {
          result = s.primary->SetClipper(clipper);
          if (FAILED(result)) step = "SetClipper";
        }
        // The primary surface keeps its own reference.
        clipper->Release();
      }
    }
    if (!step) {
      ++s.writes;
      FillSurface(s.backBuffer, 0);
      return true;
    }
    TraceFailure(step, result);
    s.Release();
  }
  // Outside the lock: the message box runs a message loop.
  if (!quiet) MessageBoxW(window, L"Failed to Initialize Direct Draw", L"Direct Draw Init Failed!", MB_ICONWARNING);
  PostQuitMessage(0);
  return false;
}

void ReleaseSurfaces() {
  PlotSurfaces& s = Surfaces();
  std::lock_guard<std::recursive_mutex> guard(s.lock);
  s.Release();
}

bool ClearBackBuffer(uint32_t fill) {
  PlotSurfaces& s = Surfaces();
  std::lock_guard<std::recursive_mutex> guard(s.lock);
  ++s.writes;
  s.liveShown = false;
  return FillSurface(s.backBuffer, fill);
}

bool PresentPlot(int width, int height) {
  PlotSurfaces& s = Surfaces();
  std::lock_guard<std::recursive_mutex> guard(s.lock);
  if (!s.primary || !s.backBuffer) return false;
  if (s.liveShown) return s.PresentLivePicture(width, height);
  POINT topLeft{0, 0};
  POINT bottomRight{width, height};
  ClientToScreen(s.window, &topLeft);
  ClientToScreen(s.window, &bottomRight);
  RECT destination{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
  for (int attempt = 0; attempt < kMaxBlitAttempts; ++attempt) {
    HRESULT result = s.Blit(destination);
    if (result == DDERR_WASSTILLDRAWING) continue;
    if (result == DDERR_SURFACELOST) {
      // What the back buffer held is gone until the next rendering.
      ++s.writes;
      s.primary->Restore();
      s.backBuffer->Restore();
      return false;
    }
    return SUCCEEDED(result);
  }
  return false;
}

bool PresentPlotIfFree(int width, int height) {
  PlotSurfaces& s = Surfaces();
  std::unique_lock<std::recursive_mutex> guard(s.lock, std::try_to_lock);
  if (!guard.owns_lock()) return false;
  return PresentPlot(width, height);
}

void RequestRedraw() {
  PlotSurfaces& s = Surfaces();
  std::lock_guard<std::recursive_mutex> guard(s.lock);
  if (!s.backBuffer) return;
  ++s.writes;
  s.liveShown = false;
  {
    GdiPlusCanvas canvas(s.backBuffer, s.width);
    Altimeter().RenderPlot(canvas);
  }
  InvalidateRect(s.window, nullptr, FALSE);
}

void RenderLivePlot() {
  PlotSurfaces& s = Surfaces();
  std::lock_guard<std::recursive_mutex> guard(s.lock);
  if (!s.backBuffer) return;
  ++s.writes;
  if (!s.MakeLivePicture()) return;
  s.liveShown = true;
  // Drawn up to once a display frame while the device streams: the fast lines.
  GdiPlusCanvas canvas(s.liveDc, s.liveWidth, true);
  Altimeter().RenderLivePlot(canvas);
}

std::unique_lock<std::recursive_mutex> HoldBackBuffer() { return std::unique_lock<std::recursive_mutex>(Surfaces().lock); }

uint64_t BackBufferWrites() {
  PlotSurfaces& s = Surfaces();
  std::lock_guard<std::recursive_mutex> guard(s.lock);
  return s.writes;
}

bool ReadBackBuffer(std::vector<uint32_t>& pixels, int& width, int& height) {
  PlotSurfaces& s = Surfaces();
  std::lock_guard<std::recursive_mutex> guard(s.lock);
  if (!s.backBuffer) return false;
  if (s.liveShown) {
    GdiFlush();
    width = s.liveWidth;
    height = s.liveHeight;
    pixels.assign(s.liveBits, s.liveBits + static_cast<size_t>(width) * static_cast<size_t>(height));
    for (uint32_t& pixel : pixels) pixel &= 0x00FFFFFF;
    return true;
  }
  DDSURFACEDESC2 description{};
  description.dwSize = sizeof description;
  if (FAILED(s.backBuffer->Lock(nullptr, &description, DDLOCK_WAIT | DDLOCK_READONLY | DDLOCK_SURFACEMEMORYPTR,
                                nullptr)))
    return false;
  const DDPIXELFORMAT& format = description.ddpfPixelFormat;
  bool ok = format.dwRGBBitCount == 32 && format.dwRBitMask == 0xFF0000 && format.dwGBitMask == 0xFF00 &&
            format.dwBBitMask == 0xFF && description.lpSurface;
  if (ok) {
    width = static_cast<int>(description.dwWidth);
    height = static_cast<int>(description.dwHeight);
    pixels.clear();
    pixels.reserve(static_cast<size_t>(width) * static_cast<size_t>(height));
    const auto* bytes = static_cast<const unsigned char*>(description.lpSurface);
    for (int y = 0; y < height; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(bytes + static_cast<ptrdiff_t>(y) * description.lPitch);
      for (int x = 0; x < width; ++x) pixels.push_back(row[x] & 0x00FFFFFF);
    }
  }
  s.backBuffer->Unlock(nullptr);
  return ok;
}

void SetBlitResultsForTest(const std::vector<HRESULT>& results) {
  PlotSurfaces& s = Surfaces();
  std::lock_guard<std::recursive_mutex> guard(s.lock);
  s.blitResults.assign(results.begin(), results.end());
}

CGdiPlusSession::CGdiPlusSession() {
  Gdiplus::GdiplusStartupInput input;
  if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok) token_ = 0;
}

CGdiPlusSession::~CGdiPlusSession() {
  ReleaseCachedFonts();
  if (token_) Gdiplus::GdiplusShutdown(token_);
}
