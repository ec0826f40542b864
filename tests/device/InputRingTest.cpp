// The driver's ring of unread input reports: a host that dawdles inside an
// exchange loses the oldest replies unless Open raised the ring.
#include <algorithm>
#include <array>

#include "device/Altimeter.h"
#include "tests/TestSupport.h"

namespace {

// The simulator's host, but the first read after every write waits 40 ms of
// bus time first, as a worker busy with something else would; and it may be
// one that cannot raise the ring.
class DawdlingHost : public HidHost {
 public:
  DawdlingHost(std::shared_ptr<SimHost> sim, bool canRaise) : sim_(std::move(sim)), canRaise_(canRaise) {}

  bool InterfacePath(uint32_t index, std::wstring& path) override { return sim_->InterfacePath(index, path); }
  HidHandle OpenPath(const std::wstring& path, uint32_t access, uint32_t share, bool overlapped) override {
    return sim_->OpenPath(path, access, share, overlapped);
  }
  void CloseHandle(HidHandle handle) override { sim_->CloseHandle(handle); }
  bool GetAttributes(HidHandle handle, HidAttributes& attributes) override {
    return sim_->GetAttributes(handle, attributes);
  }
  HidEvent CreateIoEvent() override { return sim_->CreateIoEvent(); }
  void CloseIoEvent(HidEvent event) override { sim_->CloseIoEvent(event); }
  bool ReadReport(HidHandle handle, uint8_t* buffer, uint32_t length, HidOverlapped& record,
                  uint32_t timeoutMs) override {
    if (wrote_) {
      wrote_ = false;
      sim_->Sleep(kStallMs);
      ++stalls;
    }
    return sim_->ReadReport(handle, buffer, length, record, timeoutMs);
  }
  bool WriteReport(HidHandle handle, const uint8_t* buffer, uint32_t length, HidOverlapped& record,
                   uint32_t timeoutMs) override {
    wrote_ = true;
    return sim_->WriteReport(handle, buffer, length, record, timeoutMs);
  }
  bool SetInputRingSize(HidHandle handle, uint32_t reports) override {
    return canRaise_ && sim_->SetInputRingSize(handle, reports);
  }
  void Sleep(uint32_t ms) override { sim_->Sleep(ms); }
  void SetDeviceChangeSink(DeviceChangeSink sink) override { sim_->SetDeviceChangeSink(std::move(sink)); }

  static constexpr uint32_t kStallMs = 40;
  int stalls = 0;

 private:
  std::shared_ptr<SimHost> sim_;
  bool canRaise_;
  bool wrote_ = false;
};

class InputRingTest : public SimTest {
 protected:
  // Connects through a dawdling host; Open raises the ring only when the host can.
  void ConnectDawdling(const std::string& scenario, bool canRaise) {
    altimeter.reset();
    UseScenario(scenario);
    dawdler = std::make_shared<DawdlingHost>(host, canRaise);
    InstallHidHost(dawdler);
    TraceCapture trace;
    ASSERT_EQ(Alt().Connect(nullptr, false), Connected);
    EXPECT_TRUE(trace.Has(canRaise ? "Input buffers: 512" : "Could not set input buffers.")) << trace.Text();
  }
  std::shared_ptr<DawdlingHost> dawdler;
};

TEST_F(InputRingTest, ADownloadOnTheDefaultRingLosesWordsAndFailsAsPrematureData) {
  ConnectDawdling("", false);
  TraceCapture trace;
  EXPECT_EQ(Alt().ReadFlightMemory(nullptr), ProtocolError);
  EXPECT_TRUE(trace.Has("Invalid data."));
  EXPECT_TRUE(trace.Has("Premature end of data."));
  EXPECT_TRUE(trace.Has("SimBus: input ring of 32 full, 1 oldest report(s) dropped.")) << trace.Text();
  // 33 replies arrived while the host looked away; the ring kept the last 32.
  EXPECT_EQ(Bus().DroppedReports(), 1u);
  EXPECT_EQ(dawdler->stalls, 1);
  EXPECT_TRUE(Alt().packets.empty());
  EXPECT_TRUE(Alt().comments.empty());
}

TEST_F(InputRingTest, ADownloadAfterOpenRaisedTheRingCompletesWordForWord) {
  ConnectDawdling("", true);
  const std::vector<uint8_t>& flash = Device().flash;
  size_t written = 0;
  while (written < static_cast<size_t>(kMaxFlashPackets) && flash[written * 64] != 0xFF) ++written;
  ASSERT_GT(written, 2u);
  EXPECT_EQ(Alt().ReadFlightMemory(nullptr), Ok);
  ASSERT_EQ(Alt().packets.size(), written);
  for (size_t i = 0; i < written; ++i) {
    std::array<uint8_t, 64> bytes = Alt().packets[i].ToBytes();
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), flash.begin() + static_cast<long>(i * 64))) << "packet " << i;
  }
  EXPECT_EQ(Bus().DroppedReports(), 0u);
  // The host did dawdle in every packet, the erased one that ends the download included.
  EXPECT_EQ(dawdler->stalls, static_cast<int>(written) + 1);
}

TEST_F(InputRingTest, ASettingsReadOnASmallRingFailsUntilOpenRaisesIt) {
  // 22 settings bytes and a completion: a ring smaller than 23 overflows.
  ConnectDawdling("ring=16", false);
  Alt().settings.packet.fill(0xAA);
  TraceCapture trace;
  EXPECT_EQ(Alt().ReadSettings(), ProtocolError);
  EXPECT_TRUE(trace.Has("Premature end of data."));
  EXPECT_EQ(Bus().DroppedReports(), 7u);

  ConnectDawdling("ring=16", true);
  Alt().settings.packet.fill(0xAA);
  EXPECT_EQ(Alt().ReadSettings(), Ok);
  EXPECT_TRUE(std::equal(Device().settingsStore.begin(), Device().settingsStore.end(), Alt().settings.packet.begin()));
  EXPECT_EQ(Bus().DroppedReports(), 0u);
}

TEST_F(InputRingTest, AReportOfTheWrongLengthFailsTheWriteAndNeverReachesTheDevice) {
  struct Case {
    const char* name;
    bool bootloader;
    uint32_t length;
    bool ok;
  };
  const Case cases[] = {
      {"application, command report", false, 4, true},  {"application, bootloader report", false, 65, false},
      {"application, short report", false, 3, false},   {"bootloader, block report", true, 65, true},
      {"bootloader, command report", true, 4, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    altimeter.reset();
    UseScenario(c.bootloader ? "bootloader" : "");
    ASSERT_EQ(Alt().Connect(nullptr, c.bootloader), Connected);
    Bus().recordWrites = true;
    int seen = Device().writesSeen;
    std::vector<uint8_t> report(c.length, 0);
    report[c.length == 65 ? 1 : c.length - 1] = 1;  // a reset, or the bootloader's hardware-version read
    EXPECT_EQ(Alt().WriteReport(report.data(), c.length), c.ok);
    EXPECT_EQ(Device().writesSeen, seen + (c.ok ? 1 : 0));
    EXPECT_EQ(Bus().written.size(), c.ok ? 1u : 0u);
  }
}

}  // namespace
