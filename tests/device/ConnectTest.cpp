#include "tests/TestSupport.h"

namespace {

using ConnectTest = SimTest;

struct ConnectCase {
  const char* scenario;
  bool bootloader;
  ConnectResult result;
  uint16_t version;
  bool open;
};

TEST_F(ConnectTest, OutcomesOnTheSimulatedBus) {
  const ConnectCase cases[] = {
      {"", false, Connected, 0x0405, true},
      {"version=0x0310", false, IncompatibleVersion, 0x0310, false},
      {"held", false, CannotOpen, 0x0405, false},
      {"bootloader", false, NotFound, 0, false},
      {"bootloader", true, Connected, 0x0400, true},
      {"bootloader,bootloader-version=0x0300", true, IncompatibleVersion, 0x0300, false},
      {"", true, NotFound, 0, false},
  };
  for (const ConnectCase& c : cases) {
    SCOPED_TRACE(std::string(c.scenario) + (c.bootloader ? " (bootloader)" : ""));
    UseScenario(c.scenario);
    CAltimeter altimeter;
    uint16_t version = 0;
    EXPECT_EQ(altimeter.Connect(&version, c.bootloader), c.result);
    EXPECT_EQ(version, c.version);
    EXPECT_EQ(altimeter.IsOpen(), c.open);
    EXPECT_EQ(altimeter.bootloaderMode.load(), c.open && c.bootloader);
  }
}

TEST_F(ConnectTest, TwoDevicesTakeTheFirstEnumerated) {
  UseScenario("two");
  CAltimeter altimeter;
  ASSERT_EQ(altimeter.Connect(nullptr, false), Connected);
  EXPECT_EQ(altimeter.devicePath, SimDevicePath(1, 2));
}

TEST_F(ConnectTest, HeldDeviceKeepsItsPathButTheChannelClosed) {
  UseScenario("held");
  CAltimeter altimeter;
  TraceCapture trace;
  EXPECT_EQ(altimeter.Connect(nullptr, false), CannotOpen);
  EXPECT_EQ(altimeter.devicePath, SimDevicePath(1, 2));
  EXPECT_FALSE(IsValidHandle(altimeter.readHandle));
  EXPECT_FALSE(IsValidHandle(altimeter.writeHandle));
  EXPECT_TRUE(trace.Has("Cant get USB file handle. The file is locked."));
}

TEST_F(ConnectTest, ConnectClosesFirstAndLeavesBootloaderModeOnFailure) {
  CAltimeter altimeter;
  ASSERT_EQ(altimeter.Connect(nullptr, false), Connected);
  HidHandle before = altimeter.readHandle;
  altimeter.bootloaderMode = true;
  ASSERT_EQ(altimeter.Connect(nullptr, true), NotFound);
  EXPECT_FALSE(altimeter.IsOpen());
  EXPECT_TRUE(altimeter.bootloaderMode);  // only a successful connect writes it
  ASSERT_EQ(altimeter.Connect(nullptr, false), Connected);
  EXPECT_NE(altimeter.readHandle, before);
  EXPECT_FALSE(altimeter.bootloaderMode);
}

TEST(FormatVersion, Texts) {
  const std::pair<uint16_t, const wchar_t*> cases[] = {
      {0x0400, L"4.00"}, {0x0405, L"4.05"}, {0x040A, L"4.0a"}, {0x0412, L"4.12"}, {0x0100, L"1.00"}, {0x1AFF, L"1a.ff"},
  };
  for (const auto& [version, text] : cases) EXPECT_EQ(FormatVersion(version), text);
  EXPECT_EQ(FormatVersionFamily(), L"4.0x");
}

}  // namespace
