// The started program as the user sees it: a flight from the simulator, saved
// to a file and passed on the command line, drawn over the whole client area.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/DialogWindow.h"
#include "app/MainWindow.h"
#include "device/Altimeter.h"
#include "plot/PlotSurfaces.h"
#include "tests/TestSupport.h"

namespace {

constexpr uint32_t kBackground = 0xB4B4FF;
constexpr uint32_t kAltitudeRed = 0xFF0000;

std::wstring SimulatedFlightFile(const ScratchDir& dir) {
  std::wstring path = dir.WidePath("ulk-sim-flight.ulk");
  std::string error;
  auto host = MakeSimHost("latency=0,clock=virtual", error);
  if (!host) return L"";
  InstallHidHost(host);
  bool saved = false;
  {
    CAltimeter altimeter;
    if (altimeter.Connect(nullptr, false) == Connected && altimeter.ReadFlightMemory(nullptr) == Ok &&
        altimeter.CountDataSets() > 0)
      saved = altimeter.SaveDataSet(path, altimeter.CountDataSets() - 1);
  }
  InstallHidHost(nullptr);
  return saved ? path : L"";
}

TEST(MainWindowScreen, TheFlightFillsTheWindowOnALightBlueGround) {
  ScratchDir dir;
  const std::wstring path = SimulatedFlightFile(dir);
  ASSERT_FALSE(path.empty());
  SetMessageSeam([](HWND, UINT, const std::wstring&, UINT) { return IDYES; });
  {
    CProgram program(GetModuleHandleW(nullptr));
    ASSERT_TRUE(program.Start(L"\"" + path + L"\""));
    HWND window = MainWindowHandle();
    UpdateWindow(window);
    RECT client;
    GetClientRect(window, &client);

    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    ASSERT_TRUE(ReadBackBuffer(pixels, width, height));
    EXPECT_EQ(width, client.right);
    EXPECT_EQ(height, client.bottom);
    size_t background = 0, red = 0;
    for (uint32_t p : pixels) {
      background += p == kBackground;
      red += p == kAltitudeRed;
    }
    EXPECT_GT(background, pixels.size() * 8 / 10);
    EXPECT_GT(red, static_cast<size_t>(width));  // the altitude curve crosses the plot

    // What the window shows is the back buffer. Without a window manager the
    // display maps only the window's first, default-sized part: look there.
    HDC dc = GetDC(window);
    size_t same = 0, looked = 0;
    for (int y = 0; y < std::min(height, 480); y += 7)
      for (int x = 0; x < std::min(width, 640); x += 7) {
        COLORREF shown = GetPixel(dc, x, y);
        uint32_t rgb = (uint32_t{GetRValue(shown)} << 16) | (uint32_t{GetGValue(shown)} << 8) | GetBValue(shown);
        same += rgb == pixels[static_cast<size_t>(y) * width + x];
        ++looked;
      }
    ReleaseDC(window, dc);
    EXPECT_GT(same, looked * 95 / 100);
  }
  SetMessageSeam(nullptr);
  // The destroyed main window posted a quit: it must not end later tests' dialogs.
  MSG message;
  while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

}  // namespace
