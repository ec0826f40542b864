#include "device/ExecHost.h"

#include <condition_variable>

#include "tests/TestSupport.h"

namespace {

class ExecHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    host = MakeExecHost(std::string("sh ") + ULK_SOURCE_DIR "/tests/fixtures/echo-device.sh", error);
    ASSERT_TRUE(host) << error;
    InstallHidHost(host);
  }
  void TearDown() override { InstallHidHost(nullptr); }
  // Before the host: the device process starts talking as soon as it runs.
  TraceCapture trace;
  std::shared_ptr<HidHost> host;
};

TEST_F(ExecHostTest, ExternalDeviceConnectsAndAnswersCommands) {
  CAltimeter altimeter;
  uint16_t version = 0;
  ASSERT_EQ(altimeter.Connect(&version, false), Connected);
  EXPECT_EQ(version, 0x0405);
  ASSERT_TRUE(altimeter.SendCommand(0x1234, 8));
  uint16_t value = 0;
  uint8_t code = 0;
  ASSERT_TRUE(altimeter.ReceiveReply(value, &code, 3000));
  EXPECT_EQ(value, 0x1234);
  EXPECT_EQ(code, 5);
  // The malformed line was traced and otherwise ignored.
  EXPECT_TRUE(trace.Has("exec device: ignored line: this is not a report"));
}

TEST_F(ExecHostTest, UnplugFailsTheChannelAndIsTold) {
  std::vector<std::pair<uint32_t, std::wstring>> told;
  std::mutex m;
  std::condition_variable toldOne;
  host->SetDeviceChangeSink([&](uint32_t event, const DeviceNotification& n) {
    std::lock_guard<std::mutex> lock(m);
    told.emplace_back(event, n.name);
    toldOne.notify_all();
  });
  CAltimeter altimeter;
  ASSERT_EQ(altimeter.Connect(nullptr, false), Connected);
  ASSERT_TRUE(altimeter.SendCommand(0, 0x63));
  uint16_t value = 0;
  EXPECT_FALSE(altimeter.ReceiveReply(value, nullptr, 3000));
  EXPECT_FALSE(altimeter.SendCommand(0, 1));
  EXPECT_TRUE(CHidDevice::FindDevices(2, 0, 0).empty());
  {
    // The removal is told from the host's reading thread.
    std::unique_lock<std::mutex> lock(m);
    toldOne.wait_for(lock, std::chrono::seconds(5), [&] { return !told.empty(); });
  }
  host->SetDeviceChangeSink(nullptr);
  std::lock_guard<std::mutex> lock(m);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].first, kDeviceRemoveComplete);
  EXPECT_TRUE(altimeter.MatchesNotification(DeviceNotification{kDevTypDeviceInterface, told[0].second}));
}

TEST(ExecHexLines, ParseRejectsMalformedLists) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(ParseHexBytes("00 0a FF", bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0, 10, 255}));
  for (const char* bad : {"", "0", "00  01", "00 ", "0g", "000 1", " 00"}) EXPECT_FALSE(ParseHexBytes(bad, bytes)) << bad;
  std::string tooLong;
  for (int i = 0; i < 66; ++i) tooLong += i ? " 00" : "00";
  EXPECT_FALSE(ParseHexBytes(tooLong, bytes));
  const uint8_t report[4] = {0, 0xab, 0x01, 5};
  EXPECT_EQ(FormatHexBytes(report, 4), "00 ab 01 05");
}

}  // namespace
