// ulktool devices, run as the user runs it.
#include <memory>
#include <string>
#include <vector>

#include "device/HidDevice.h"
#include "device/HidHost.h"
#include "device/HidHostHidapi.h"
#include "tests/TestSupport.h"

namespace {

// `ulktool devices` on this machine's real bus, which has no flight computer
// here: the first line stays, the second is what the platform host tells.
TEST(HidapiTool, DevicesOnTheRealBusSaysWhereItLooked) {
  const ToolRun run = RunTool("devices", "env -u ULKUSB_DEVICE ");
  ASSERT_NE(run.status, -1);
  if (run.status == 0) GTEST_SKIP() << "a flight computer is plugged into this machine";
  EXPECT_EQ(run.status, 3);  // no device: the same status as every device command

  std::shared_ptr<HidHost> platform = MakePlatformHidHost();
  InstallHidHost(platform);
  EXPECT_TRUE(CHidDevice::FindDevices(kBootloaderProductId, 0, 0).empty());
  const std::string note = EmptyBusNote(*platform);
  InstallHidHost(nullptr);

  EXPECT_EQ(LinesOf(run.err), (std::vector<std::string>{"Device not found.", note}));
  EXPECT_FALSE(note.empty());
}

}  // namespace
