#include "device/ExecHost.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <streambuf>

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

// The trace as it is written, to wait for a line that the host's reading
// thread traces.
class TraceWaiter : public std::streambuf {
 public:
  TraceWaiter() { old_ = SetTraceTarget(this); }
  ~TraceWaiter() override { SetTraceTarget(old_); }
  bool WaitFor(const std::string& line) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::seconds(10),
                             [&] { return text_.find(line + "\n") != std::string::npos; });
  }

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::lock_guard<std::mutex> lock(mutex_);
    text_.append(s, static_cast<size_t>(n));
    arrived_.notify_all();
    return n;
  }
  int_type overflow(int_type ch) override {
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    char c = traits_type::to_char_type(ch);
    xsputn(&c, 1);
    return ch;
  }

 private:
  std::streambuf* old_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::string text_;
};

// A device on the host, and a channel to it.
struct ExecChannel {
  explicit ExecChannel(const std::string& command) {
    std::string error;
    host = MakeExecHost(command, error);
    if (!host) {
      ADD_FAILURE() << error;
      return;
    }
    InstallHidHost(host);
    connected = altimeter.Connect(nullptr, false) == Connected;
  }
  ~ExecChannel() {
    altimeter.Close();
    InstallHidHost(nullptr);
  }
  std::shared_ptr<HidHost> host;
  CAltimeter altimeter;
  bool connected = false;
};

TEST(ExecHostChannels, RepliesLeftUnreadDoNotReachTheNextChannel) {
  TraceWaiter trace;
  // Echoes each command's argument, then says so on a line the host ignores.
  ExecChannel channel(
      "echo 'HID 03db 0002 0405'; while read -r kind b0 b1 b2 b3 rest; do "
      "echo \"R 00 $b1 $b2 05\"; echo \"answered $b1$b2\"; done");
  ASSERT_TRUE(channel.connected);
  // A download cancelled with a reply in flight: the reply is there, unread.
  ASSERT_TRUE(channel.altimeter.SendCommand(0xbbaa, 2));
  ASSERT_TRUE(trace.WaitFor("exec device: ignored line: answered aabb"));
  channel.altimeter.Close();
  ASSERT_EQ(channel.altimeter.Connect(nullptr, false), Connected);
  ASSERT_TRUE(channel.altimeter.SendCommand(0x0201, 8));
  uint16_t value = 0;
  ASSERT_TRUE(channel.altimeter.ReceiveReply(value, nullptr, 3000));
  EXPECT_EQ(value, 0x0201);
}

TEST(ExecHostChannels, AWriteTheDeviceDoesNotTakeInTimeFails) {
  // The device never reads: its input pipe fills after a few thousand reports.
  ExecChannel channel("echo 'HID 03db 0002 0405'; exec sleep 60");
  ASSERT_TRUE(channel.connected);
  CAltimeter& altimeter = channel.altimeter;
  const uint8_t report[4] = {0, 0x10, 0x05, 22};
  int taken = 0;
  while (taken < 1000000 &&
         channel.host->WriteReport(altimeter.writeHandle, report, 4, altimeter.overlapped, 20))
    ++taken;
  EXPECT_GT(taken, 100);
  EXPECT_LT(taken, 1000000);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(channel.host->WriteReport(altimeter.writeHandle, report, 4, altimeter.overlapped, 50));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
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
