// ulkshot OUT.png [TITLE] [SECONDS]: waits for a top-level window with that
// title (default "ULK USB 4.00") to show, gives it a moment to paint, and saves
// the screen as PNG. Used by ./run where there is no display to look at, and
// by the screenshot test.
#include <windows.h>
#include <gdiplus.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

bool PngEncoder(CLSID& clsid) {
  UINT count = 0, size = 0;
  Gdiplus::GetImageEncodersSize(&count, &size);
  if (size == 0) return false;
  std::vector<unsigned char> buffer(size);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  Gdiplus::GetImageEncoders(count, size, codecs);
  for (UINT i = 0; i < count; ++i) {
    if (std::wstring(codecs[i].MimeType) == L"image/png") {
      clsid = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: ulkshot OUT.png [TITLE] [SECONDS]\n");
    return 2;
  }
  std::wstring title = argc > 2 ? argv[2] : L"ULK USB 4.00";
  int seconds = argc > 3 ? _wtoi(argv[3]) : 30;
  HWND window = nullptr;
  for (int i = 0; i < seconds * 10 && !window; ++i) {
    window = FindWindowW(nullptr, title.c_str());
    if (!window) Sleep(100);
  }
  if (!window) {
    std::fprintf(stderr, "ulkshot: no window appeared\n");
    return 1;
  }
  Sleep(1500);  // let it finish drawing

  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartup(&token, &input, nullptr);
  int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  int status = 1;
  {
    Gdiplus::Bitmap image(bitmap, nullptr);
    CLSID png;
    if (PngEncoder(png) && image.Save(argv[1], &png, nullptr) == Gdiplus::Ok) status = 0;
  }
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  Gdiplus::GdiplusShutdown(token);
  if (status != 0) std::fprintf(stderr, "ulkshot: could not save the picture\n");
  return status;
}
