// The connection icon as the dialogs show it.
#include <windows.h>

#include <gtest/gtest.h>

#include "device/ConnectionRoutines.h"
#include "resources/resource.h"
#include "simulator/SimHost.h"

namespace {

TEST(ConnectionIcon, FollowsTheChannelAtFortyEightPixels) {
  std::string error;
  std::shared_ptr<SimHost> host = MakeSimHost("clock=virtual", error);
  ASSERT_TRUE(host) << error;
  InstallHidHost(host);
  HWND control = CreateWindowExW(0, L"Static", L"", WS_POPUP | SS_ICON, 0, 0, 16, 16, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(control, nullptr);
  {
    CAltimeter altimeter;
    HICON shown[2] = {};
    for (int step = 0; step < 2; ++step) {
      if (step == 1) {
        ASSERT_EQ(altimeter.Connect(nullptr, false), Connected);
      }
      ShowConnectionIcon(control, ConnectionIconId(altimeter), false);
      shown[step] = reinterpret_cast<HICON>(SendMessageW(control, STM_GETICON, 0, 0));
      ASSERT_NE(shown[step], nullptr);
      RECT size = {};
      GetClientRect(control, &size);
      EXPECT_EQ(size.right, CONNECTION_ICON_SIZE);
      EXPECT_EQ(size.bottom, CONNECTION_ICON_SIZE);
    }
    EXPECT_NE(shown[0], shown[1]);
    // Refreshing again shows the same shared icon, and a posted refresh arrives too.
    ShowConnectionIcon(control, ConnectionIconId(altimeter), false);
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageW(control, STM_GETICON, 0, 0)), shown[1]);
    altimeter.Close();
    ShowConnectionIcon(control, ConnectionIconId(altimeter), true);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageW(control, STM_GETICON, 0, 0)), shown[0]);
  }
  DestroyWindow(control);
  InstallHidHost(nullptr);
}

}  // namespace
