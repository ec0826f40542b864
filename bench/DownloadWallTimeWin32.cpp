// Drives the running program as a user would and times its download: opens
// Tools > Download Data..., ticks "Live Update" when asked, clicks "Read Data"
// and waits for the status box to say how it ended. Prints the wall time and
// its ratio to the device's own time for a full memory (53,200 reports of
// 1 ms: 53.2 s). Run by bench/download-wall-time.sh beside UlkUsb.exe.
//
//   DownloadWallTimeWin32 [--live] [--out RESULT.txt] [--shot OUT.png SECONDS]
//
// --out also writes the result line to a file (a program started inside a
// Wine desktop has no terminal); --shot saves the screen that many seconds
// after the click (the README's picture).
#include <windows.h>
#include <gdiplus.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "app/ProgramInfo.h"

namespace {

constexpr double kDeviceSeconds = 53.2;
constexpr int kDownloadMenuCommand = 40006;
constexpr int kReadDataButton = 1006;
constexpr int kLiveUpdateBox = 1032;
constexpr int kStatusBox = 1003;

double NowSeconds() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

HWND WaitForWindow(const wchar_t* title, int seconds) {
  for (int i = 0; i < seconds * 20; ++i) {
    if (HWND window = FindWindowW(nullptr, title)) return window;
    Sleep(50);
  }
  return nullptr;
}

// The status box of another process: WM_GETTEXT is carried across.
std::wstring StatusText(HWND dialog) {
  HWND box = GetDlgItem(dialog, kStatusBox);
  const LRESULT length = SendMessageW(box, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(SendMessageW(box, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
  return text;
}

bool SaveScreen(const wchar_t* path) {
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return false;
  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  bool saved = false;
  {
    Gdiplus::Bitmap image(bitmap, nullptr);
    UINT count = 0, size = 0;
    Gdiplus::GetImageEncodersSize(&count, &size);
    std::vector<unsigned char> buffer(size);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    Gdiplus::GetImageEncoders(count, size, codecs);
    for (UINT i = 0; i < count && !saved; ++i)
      if (std::wstring(codecs[i].MimeType) == L"image/png") saved = image.Save(path, &codecs[i].Clsid, nullptr) == Gdiplus::Ok;
  }
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  Gdiplus::GdiplusShutdown(token);
  return saved;
}

std::wstring Wide(const char* text) {
  std::wstring wide(std::strlen(text) + 1, L'\0');
  wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), static_cast<int>(wide.size()))));
  if (!wide.empty()) wide.pop_back();
  return wide;
}

}  // namespace

int main(int argc, char** narrow) {
  std::vector<std::wstring> args;
  for (int i = 0; i < argc; ++i) args.push_back(Wide(narrow[i]));
  std::vector<const wchar_t*> argv;
  for (const std::wstring& a : args) argv.push_back(a.c_str());
  bool live = false;
  const wchar_t* out = nullptr;
  const wchar_t* shot = nullptr;
  double shotAt = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--live") == 0) {
      live = true;
    } else if (std::wcscmp(argv[i], L"--out") == 0 && i + 1 < argc) {
      out = argv[++i];
    } else if (std::wcscmp(argv[i], L"--shot") == 0 && i + 2 < argc) {
      shot = argv[i + 1];
      shotAt = _wtof(argv[i + 2]);
      i += 2;
    } else {
      std::fprintf(stderr, "usage: DownloadWallTimeWin32 [--live] [--out RESULT.txt] [--shot OUT.png SECONDS]\n");
      return 2;
    }
  }
  HWND main = WaitForWindow(kProgramTitle, 60);
  if (!main) {
    std::fprintf(stderr, "the program's window did not appear\n");
    return 1;
  }
  Sleep(1000);
  PostMessageW(main, WM_COMMAND, kDownloadMenuCommand, 0);
  HWND dialog = WaitForWindow(L"Download Data", 30);
  if (!dialog) {
    std::fprintf(stderr, "the Download Data dialog did not open\n");
    return 1;
  }
  // Until the connect routine has said its lines and enabled "Read Data".
  HWND read = GetDlgItem(dialog, kReadDataButton);
  for (int i = 0; i < 200 && !IsWindowEnabled(read); ++i) Sleep(50);
  if (live) SendMessageW(GetDlgItem(dialog, kLiveUpdateBox), BM_SETCHECK, BST_CHECKED, 0);
  const size_t before = StatusText(dialog).size();

  const double start = NowSeconds();
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kReadDataButton, BN_CLICKED), reinterpret_cast<LPARAM>(read));
  std::wstring tail;
  bool shotTaken = shot == nullptr;
  double end = start;
  for (;;) {
    Sleep(20);
    const double now = NowSeconds();
    if (!shotTaken && now - start >= shotAt) shotTaken = SaveScreen(shot) || true;
    const std::wstring text = StatusText(dialog);
    tail = text.size() > before ? text.substr(before) : std::wstring();
    const size_t read = tail.find(L"Packets Read: ");
    if ((read != std::wstring::npos && tail.find(L"\r\n", read) != std::wstring::npos) ||
        tail.find(L"Failed to read") != std::wstring::npos || tail.find(L"not found") != std::wstring::npos) {
      // The line comes 100 ms after "Data read successfully.": the download ended there.
      end = now - (read != std::wstring::npos ? 0.1 : 0.0);
      break;
    }
    if (now - start > 600) {
      std::fprintf(stderr, "no end after 600 s\n");
      return 1;
    }
  }
  const size_t at = tail.find(L"Packets Read: ");
  const int packets = at == std::wstring::npos ? -1 : _wtoi(tail.c_str() + at + 14);
  const bool ok = tail.find(L"Data read successfully.") != std::wstring::npos;
  char line[200];
  std::snprintf(line, sizeof line, "download %s Live Update: %s, %d packets, %.2f s, %.3f x the device's 53.2 s\n",
                live ? "with" : "without", ok ? "succeeded" : "FAILED", packets, end - start,
                (end - start) / kDeviceSeconds);
  std::fputs(line, stdout);
  if (out) {
    if (FILE* file = _wfopen(out, L"w")) {
      std::fputs(line, file);
      std::fclose(file);
    }
  }
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  return ok ? 0 : 1;
}
