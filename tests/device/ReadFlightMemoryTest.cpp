#include <functional>
#include <tuple>

#include "device/Altimeter.h"
#include "tests/TestSupport.h"
#include "tests/flightdata/FlightTestSupport.h"

namespace {

using Progress = std::tuple<int, bool, bool>;

class ProgressLog : public PacketProgress {
 public:
  void OnPacketProgress(int packetIndex, bool partial, bool setStart) override {
    calls.emplace_back(packetIndex, partial, setStart);
    if (hook) hook(packetIndex, partial, setStart);
  }
  std::vector<Progress> calls;
  std::function<void(int, bool, bool)> hook;
};

// Passes every report to the simulated flight computer and then lets the test
// change what the device queued in answer to a packet request.
class TamperingModel : public SimDeviceModel {
 public:
  explicit TamperingModel(std::shared_ptr<SimFlightComputer> inner) : inner_(std::move(inner)) {}
  bool OnOutputReport(SimBus& bus, int slot, const std::vector<uint8_t>& report) override {
    bool ok = inner_->OnOutputReport(bus, slot, report);
    if (report.size() == 4 && report[3] == 2 && ++requests_ % 2 == 0 && afterRequest)
      afterRequest(bus, slot, report[1] | (report[2] << 8));
    return ok;
  }
  std::function<void(SimBus&, int, int)> afterRequest;

 private:
  std::shared_ptr<SimFlightComputer> inner_;
  int requests_ = 0;
};

class ReadFlightMemoryTest : public SimTest {
 protected:
  void SetUp() override {
    UseScenario("empty");
    tamper = std::make_shared<TamperingModel>(host->devices[0]);
    Bus().Slot(0).model = tamper;
    ASSERT_EQ(Alt().Connect(nullptr, false), Connected);
  }
  void Store(int index, const CFlashPacket& packet) {
    std::array<uint8_t, 64> bytes = packet.ToBytes();
    std::copy(bytes.begin(), bytes.end(), Device().flash.begin() + 64 * index);
  }
  std::vector<int> RequestedPackets() const {
    std::vector<int> indexes;
    bool second = false;
    for (const auto& [slot, report] : host->Bus().written) {
      if (report.size() != 4 || report[3] != 2) continue;
      if (second) indexes.push_back(report[1] | (report[2] << 8));
      second = !second;
    }
    return indexes;
  }
  std::shared_ptr<TamperingModel> tamper;
  ProgressLog progress;
};

TEST_F(ReadFlightMemoryTest, AnErasedFirstPacketEndsWithNothingStored) {
  Alt().comments = {"old"};
  Alt().packets = {MakePacket(2)};
  TraceCapture trace;
  EXPECT_EQ(Alt().ReadFlightMemory(&progress), Ok);
  EXPECT_TRUE(Alt().packets.empty());
  EXPECT_TRUE(Alt().comments.empty());
  EXPECT_EQ(Alt().CountDataSets(), 0);
  // Seven reports while the packet arrives, none for storing it.
  std::vector<Progress> expected(7, Progress{0, true, false});
  EXPECT_EQ(progress.calls, expected);
  std::vector<std::string> lines = trace.Lines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4),
            (std::vector<std::string>{"Resetting device.", "Reading Data...", "READING SIZE: 4", "CFlashPacket: 64"}));
  EXPECT_EQ(lines.back(), "Done Reading Data...");
  EXPECT_FALSE(trace.Has("Done Reading Packet..."));
}

TEST_F(ReadFlightMemoryTest, PacketsArriveWithTheirProgressAndTwoSetsGiveTwoComments) {
  CFlashPacket first = MakePacket(2, {SampleWord(13200), SampleWord(13300), kNoSample, SampleWord(1)}, 201);
  first.byte1 = 0x5A;
  Store(0, first);
  Store(1, RampPacket(9, 13400, 20));
  Store(2, RampPacket(2, 20000, 1));
  Bus().recordWrites = true;
  Alt().cancelRequested = true;  // left from an earlier operation: cleared at the start
  TraceCapture trace;
  ASSERT_EQ(Alt().ReadFlightMemory(&progress), Ok);
  ASSERT_EQ(Alt().packets.size(), 3u);
  EXPECT_EQ(Alt().packets[0].ToBytes(), first.ToBytes());
  EXPECT_EQ(Alt().packets[1].samples, RampPacket(9, 13400, 20).samples);
  EXPECT_EQ(Alt().comments, (std::vector<std::string>{"", ""}));
  EXPECT_EQ(RequestedPackets(), (std::vector<int>{0, 1, 2, 3}));

  std::vector<Progress> onePacket = {{1, true, false}, {1, true, false}, {1, true, false}, {1, true, false},
                                     {1, true, false}, {1, true, false}, {1, true, false}, {1, false, false}};
  ASSERT_EQ(progress.calls.size(), 8u * 3 + 7);
  EXPECT_EQ(progress.calls[0], (Progress{0, true, true}));
  EXPECT_EQ(progress.calls[16], (Progress{2, true, true}));
  EXPECT_EQ(std::vector<Progress>(progress.calls.begin() + 8, progress.calls.begin() + 16), onePacket);
  // Every sample word of every packet reached the live record, which skips
  // erased words one by one (the dialog resets it, not the download).
  EXPECT_EQ(Alt().livePreview.altitude.size(), 3u + 15 + 15);
  EXPECT_NEAR(Alt().livePreview.altitude[1], 10.0, 1e-9);
}

TEST_F(ReadFlightMemoryTest, AFullMemoryEndsAfterItsLastPacket) {
  for (int i = 0; i < kMaxFlashPackets; ++i) Store(i, RampPacket(i % 500 == 0 ? 2 : 3, 10000, 1));
  Bus().recordWrites = true;
  EXPECT_EQ(Alt().ReadFlightMemory(nullptr), Ok);
  EXPECT_EQ(Alt().packets.size(), 1520u);
  EXPECT_EQ(Alt().comments.size(), 4u);
  std::vector<int> requested = RequestedPackets();
  ASSERT_EQ(requested.size(), 1520u);
  EXPECT_EQ(requested.back(), 1519);
  EXPECT_EQ(Bus().written.size(), 1u + 2 * 1520);
}

TEST_F(ReadFlightMemoryTest, AnUnexpectedReplyIsSkippedAndTheSameWordReadAgain) {
  Store(0, RampPacket(2, 13200, 1));
  tamper->afterRequest = [](SimBus& bus, int slot, int packet) {
    if (packet != 0) return;
    auto& input = bus.Slot(slot).input;
    input.insert(input.begin() + 3, {input[3].first, {0, 0x34, 0x12, 7}});
    input.insert(input.begin() + 20, {input[20].first, {0, 0x56, 0x78, 0}});
  };
  TraceCapture trace;
  ASSERT_EQ(Alt().ReadFlightMemory(nullptr), Ok);
  ASSERT_EQ(Alt().packets.size(), 1u);
  EXPECT_EQ(Alt().packets[0].ToBytes(), RampPacket(2, 13200, 1).ToBytes());
  int invalid = 0;
  for (const std::string& line : trace.Lines()) invalid += line == "Invalid data.";
  EXPECT_EQ(invalid, 2);
}

TEST_F(ReadFlightMemoryTest, FailuresOfTheExchangeAnswerTheirResult) {
  struct Case {
    const char* name;
    std::function<void(SimFlightComputer&)> fault;
    CommandResult result;
    const char* traceLine;
    size_t packetsKept;
  };
  const std::vector<Case> cases = {
      {"no word", [](SimFlightComputer& d) { d.faults.noReplyAt = 33 + 4; }, TransferError, "Failed to read to packet.", 1},
      {"no completion", [](SimFlightComputer& d) { d.faults.noReplyAt = 33 + 32; }, TransferError,
       "Could not read complete confirmation.", 1},
      {"completion mid-packet", [](SimFlightComputer& d) { d.faults.prematureCompletionAt = 33 + 10; }, ProtocolError,
       "Premature end of data.", 1},
      {"wrong completion code", [](SimFlightComputer& d) { d.faults.codeAt = 33 + 32, d.faults.replyCode = 13; },
       ProtocolError, nullptr, 1},
      {"reset write fails", [](SimFlightComputer& d) { d.faults.failWriteAt = 0; }, IoError, "Write Error.", 0},
      {"request write fails", [](SimFlightComputer& d) { d.faults.failWriteAt = 4; }, IoError, nullptr, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UseScenario("empty");
    ASSERT_EQ(Alt().Connect(nullptr, false), Connected);
    Store(0, RampPacket(2, 13200, 1));
    Store(1, RampPacket(3, 13215, 1));
    Store(2, RampPacket(3, 13230, 1));
    c.fault(Device());
    Alt().comments = {"x"};
    TraceCapture trace;
    EXPECT_EQ(Alt().ReadFlightMemory(nullptr), c.result);
    if (c.traceLine) {
      EXPECT_TRUE(trace.Has(c.traceLine));
    }
    EXPECT_EQ(Alt().packets.size(), c.packetsKept);
    EXPECT_TRUE(Alt().comments.empty());
  }
}

TEST_F(ReadFlightMemoryTest, BootloaderModeRefusesButStillEmptiesTheComments) {
  Alt().bootloaderMode = true;
  Alt().comments = {"a"};
  Alt().packets = {MakePacket(2)};
  Bus().recordWrites = true;
  EXPECT_EQ(Alt().ReadFlightMemory(&progress), ProtocolError);
  EXPECT_TRUE(Alt().comments.empty());
  EXPECT_EQ(Alt().packets.size(), 1u);
  EXPECT_TRUE(Bus().written.empty());
}

TEST_F(ReadFlightMemoryTest, CancellationIsSeenAtItsPointsOnly) {
  enum When { AtWordThirty, WithTheCompletion, AfterStoring };
  struct Case {
    const char* name;
    When when;
    size_t packetsKept;
    bool cancelIoLine;
    std::vector<int> requested;
  };
  const std::vector<Case> cases = {
      {"during a packet", AtWordThirty, 0, false, {0}},
      {"with the completion", WithTheCompletion, 1, true, {0, 1}},
      {"after the packet is stored", AfterStoring, 1, false, {0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UseScenario("empty");
    tamper = std::make_shared<TamperingModel>(host->devices[0]);
    Bus().Slot(0).model = tamper;
    ASSERT_EQ(Alt().Connect(nullptr, false), Connected);
    Store(0, RampPacket(2, 13200, 1));
    Store(1, RampPacket(3, 13215, 1));
    Bus().recordWrites = true;
    CAltimeter* alt = &Alt();
    ProgressLog log;
    if (c.when == WithTheCompletion) {
      // Raised by the bus at the very moment the packet's completion arrives.
      tamper->afterRequest = [alt](SimBus& bus, int slot, int packet) {
        if (packet != 0) return;
        uint64_t completionAt = bus.Slot(slot).input.back().first;
        bus.Schedule(completionAt - bus.Now(), [alt](SimBus&) { alt->cancelRequested = true; });
      };
    } else {
      // The seventh notice of packet 0 comes after word 30; the eighth after storing it.
      int raiseAt = c.when == AtWordThirty ? 7 : 8;
      int notices = 0;
      log.hook = [alt, raiseAt, notices](int, bool, bool) mutable {
        if (++notices == raiseAt) alt->cancelRequested = true;
      };
    }
    TraceCapture trace;
    EXPECT_EQ(Alt().ReadFlightMemory(&log), Cancelled);
    EXPECT_EQ(Alt().packets.size(), c.packetsKept);
    EXPECT_EQ(trace.Has("Requesting CancelIO."), c.cancelIoLine);
    EXPECT_EQ(RequestedPackets(), c.requested);
    EXPECT_TRUE(Alt().comments.empty());
    if (c.when != AtWordThirty) {
      // The next packet was asked for, but none of its replies was read.
      EXPECT_EQ(Bus().Slot(0).input.size(), 33u);
    }
  }
}

}  // namespace
