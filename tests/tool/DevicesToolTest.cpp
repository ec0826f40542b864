// ulktool devices, run as the user runs it.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
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
  char dir[] = "/tmp/ulk-devices-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string err = std::string(dir) + "/err";
  int status = std::system(("env -u ULKUSB_DEVICE '" ULKTOOL_PATH "' devices >/dev/null 2>'" + err + "'").c_str());
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 0) GTEST_SKIP() << "a flight computer is plugged into this machine";
  EXPECT_EQ(WEXITSTATUS(status), 1);

  std::shared_ptr<HidHost> platform = MakePlatformHidHost();
  InstallHidHost(platform);
  EXPECT_TRUE(CHidDevice::FindDevices(kBootloaderProductId, 0, 0).empty());
  const std::string note = EmptyBusNote(*platform);
  InstallHidHost(nullptr);

  std::ifstream in(err);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"Device not found.", note}));
  EXPECT_FALSE(note.empty());
  std::filesystem::remove_all(dir);
}

}  // namespace
