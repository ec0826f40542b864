// The About dialog from its template in the program's resources.
#include <windows.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "resources/resource.h"
#include "settings/AboutWindow.h"
#include "tests/TestSupport.h"
#include "tests/win32/DialogDriver.h"

namespace {

using CDrivenAbout = DialogDriver<CAboutWindow>;

class AboutWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
    ASSERT_TRUE(RegisterDialogClass(GetModuleHandleW(nullptr)));
  }
  void TearDown() override { Gdiplus::GdiplusShutdown(token_); }
  ULONG_PTR token_ = 0;
};

TEST_F(AboutWindow, ShowsItsTextLineByLine) {
  CDrivenAbout about;
  std::wstring shown;
  about.script = [&shown](CDrivenAbout& d) {
    shown = d.Box();
    PostMessageW(d.hwnd, WM_CLOSE, 0, 0);
  };
  about.Run();
  std::wistringstream in(shown);
  std::vector<std::wstring> lines;
  for (std::wstring line; std::getline(in, line, L'\n');) {
    ASSERT_FALSE(line.empty());
    ASSERT_EQ(line.back(), L'\r');
    lines.push_back(line.substr(0, line.size() - 1));
  }
  const std::vector<std::wstring> expected = {
      L"Visit https://ulkusb.example.org/ for updates and further info.",
      L"",
      L"Software is version 4.00 and is designed for:",
      L"",
      L"Firmware version 4.0x",
      L"Bootloader version 4.0x",
      L"Hardware version 4.0x",
  };
  EXPECT_EQ(lines, expected);
}

TEST_F(AboutWindow, EscapeCloseAndTheCloseBoxEachEndIt) {
  const std::function<void(HWND)> ways[] = {
      [](HWND w) { PostMessageW(GetDlgItem(w, IDC_STATUS_BOX), WM_KEYDOWN, VK_ESCAPE, 0); },
      [](HWND w) { SendMessageW(w, WM_KEYDOWN, VK_ESCAPE, 0); },
      [](HWND w) { PostMessageW(w, WM_COMMAND, IDC_CLOSE, 0); },
      [](HWND w) { PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0); },
  };
  for (const auto& way : ways) {
    TraceCapture trace;
    {
      CDrivenAbout about;
      about.script = [&way](CDrivenAbout& d) { way(d.hwnd); };
      about.Run();
    }
    EXPECT_EQ(trace.Lines(), std::vector<std::string>{"DESTRUCT"});
  }
}

}  // namespace
