// The simulated bus keeps unread input reports as a HID driver does: a ring
// per reader, the oldest dropped when it is full.
#include "simulator/SimBus.h"

#include "tests/TestSupport.h"

namespace {

// Answers an output report {0, n, ...} with n reports, numbered in byte 1.
class BurstModel : public SimDeviceModel {
 public:
  bool OnOutputReport(SimBus& bus, int slot, const std::vector<uint8_t>& report) override {
    for (uint8_t i = 0; i < report.at(1); ++i) bus.QueueReport(slot, {0, i, 0, 13}, 0);
    return true;
  }
};

class SimBusRingTest : public ::testing::Test {
 protected:
  SimBusRingTest() : bus(false) {
    slot = bus.AddSlot(L"\\\\?\\hid#burst", 2, 0x0405, std::make_shared<BurstModel>());
    bus.Plug(slot);
  }
  HidHandle OpenReader() { return bus.OpenPath(L"\\\\?\\hid#burst", kGenericRead, kShareWrite); }
  bool Burst(HidHandle writer, uint8_t n) {
    const uint8_t report[4] = {0, n, 0, 0};
    return bus.Write(writer, report, 4, 3000);
  }
  // Numbers of the reports that can still be read, until a read times out.
  std::vector<int> ReadAll(HidHandle reader) {
    std::vector<int> numbers;
    uint8_t buffer[4];
    while (bus.Read(reader, buffer, 4, 100)) numbers.push_back(buffer[1]);
    return numbers;
  }
  static std::vector<int> Range(int from, int to) {
    std::vector<int> r;
    for (int i = from; i < to; ++i) r.push_back(i);
    return r;
  }

  SimBus bus;
  int slot = -1;
};

TEST_F(SimBusRingTest, AReaderThatLooksAwayKeepsOnlyTheNewestRingful) {
  struct Case {
    const char* name;
    uint64_t latencyUs;
    uint32_t ring;  // 0: the default the handle was opened with
    uint32_t stallMs;
    uint64_t dropped;
  };
  const Case cases[] = {
      {"prompt reader", 1000, 0, 0, 0},
      {"40 reports arrive during the stall", 1000, 0, 100, 8},
      {"half of them arrive during the stall", 1000, 0, 20, 0},
      {"ring raised", 1000, 64, 100, 0},
      {"ring lowered", 1000, 10, 100, 30},
      {"no latency: the bus waits for room", 0, 0, 100, 0},
  };
  uint64_t before = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bus.replyLatencyUs = c.latencyUs;
    HidHandle reader = OpenReader();
    HidHandle writer = bus.OpenPath(L"\\\\?\\hid#burst", kGenericWrite, kShareRead);
    if (c.ring) {
      ASSERT_TRUE(bus.SetInputRing(reader, c.ring));
    }
    TraceCapture trace;
    ASSERT_TRUE(Burst(writer, 40));
    bus.Sleep(c.stallMs);
    EXPECT_EQ(ReadAll(reader), Range(static_cast<int>(c.dropped), 40));
    EXPECT_EQ(bus.DroppedReports() - before, c.dropped);
    before = bus.DroppedReports();
    EXPECT_EQ(trace.Lines().size(), c.dropped ? 1u : 0u);
    bus.CloseHandle(reader);
    bus.CloseHandle(writer);
  }
}

TEST_F(SimBusRingTest, TheRingIsTheReadHandlesOwnAndKeepsTheDriversLimits) {
  HidHandle reader = OpenReader();
  HidHandle writer = bus.OpenPath(L"\\\\?\\hid#burst", kGenericWrite, kShareRead);
  EXPECT_FALSE(bus.SetInputRing(reader, 1));
  EXPECT_FALSE(bus.SetInputRing(reader, 513));
  EXPECT_FALSE(bus.SetInputRing(reinterpret_cast<HidHandle>(uintptr_t{0x42}), 64));
  EXPECT_TRUE(bus.SetInputRing(reader, 2));
  EXPECT_TRUE(bus.SetInputRing(reader, 512));
  ASSERT_TRUE(Burst(writer, 40));
  bus.Sleep(100);
  EXPECT_EQ(ReadAll(reader), Range(0, 40));

  // A new handle starts again with the driver's default.
  bus.CloseHandle(reader);
  reader = OpenReader();
  ASSERT_TRUE(Burst(writer, 40));
  bus.Sleep(100);
  EXPECT_EQ(ReadAll(reader), Range(8, 40));

  // A handle of a device that left cannot be changed.
  bus.Unplug(slot);
  EXPECT_FALSE(bus.SetInputRing(reader, 64));
}

TEST(SimScenarioRing, TheRingWordSetsTheDefaultWithinTheDriversLimits) {
  std::string error;
  auto host = MakeSimHost("ring=16,clock=virtual", error);
  ASSERT_TRUE(host) << error;
  EXPECT_EQ(host->Bus().inputRingReports, 16u);
  host = MakeSimHost("clock=virtual", error);
  ASSERT_TRUE(host) << error;
  EXPECT_EQ(host->Bus().inputRingReports, 32u);
  for (const char* word : {"ring=1", "ring=513", "ring=many", "ring"}) {
    SCOPED_TRACE(word);
    error.clear();
    EXPECT_FALSE(MakeSimHost(word, error));
    EXPECT_NE(error.find(std::string("\"") + word + "\""), std::string::npos) << error;
  }
}

}  // namespace
