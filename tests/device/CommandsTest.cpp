#include <functional>
#include <mutex>
#include <thread>

#include "simulator/SimApplicationFirmware.h"
#include "tests/TestSupport.h"

namespace {

struct Operation {
  const char* name;
  std::function<CommandResult(CAltimeter&)> run;
  bool guarded;                // refused while bootloaderMode is set
  bool clearsCancel;           // clears cancelRequested when it starts
  std::vector<uint8_t> codes;  // command codes of the reports it writes
  uint32_t timeoutMs;          // how long it waits for a reply
  CommandResult noReply;       // its answer when the first reply never comes
};

std::vector<uint8_t> WriteSettingsCodes() {
  std::vector<uint8_t> codes = {1, 9};
  codes.insert(codes.end(), 22, 0);
  return codes;
}

const std::vector<Operation>& Operations() {
  static const std::vector<Operation> ops = {
      {"ReadSettings", [](CAltimeter& a) { return a.ReadSettings(); }, true, false, {1, 8}, 3000, TransferError},
      {"WriteSettings", [](CAltimeter& a) { return a.WriteSettings(); }, true, false, WriteSettingsCodes(), 3000,
       TransferError},
      {"ClearMemory", [](CAltimeter& a) { return a.ClearMemory(); }, true, false, {6}, 15000, TransferError},
      {"ResetSettings", [](CAltimeter& a) { return a.ResetSettings(); }, true, true, {12}, 3000, IoError},
      {"FireLines", [](CAltimeter& a) { return a.FireLines(); }, true, true, {1, 10}, 3000, IoError},
      {"EnterBootloader", [](CAltimeter& a) { return a.EnterBootloader(); }, false, true, {11}, 3000, IoError},
      {"ReadAltitude",
       [](CAltimeter& a) {
         float m = 0;
         return a.ReadAltitude(m);
       },
       true, true, {1, 3}, 3000, IoError},
      {"ReadVoltage",
       [](CAltimeter& a) {
         uint16_t v = 0;
         return a.ReadVoltage(v);
       },
       true, true, {1, 7}, 3000, IoError},
  };
  return ops;
}

class CommandsTest : public SimTest {
 protected:
  void SetUp() override { Fresh(); }
  // A new flight computer and a channel to it, writes recorded.
  void Fresh() {
    altimeter.reset();
    UseScenario("");
    ASSERT_EQ(Alt().Connect(nullptr, false), Connected);
    Bus().recordWrites = true;
  }
  std::vector<uint8_t> WrittenCodes() const {
    std::vector<uint8_t> codes;
    for (const auto& [slot, report] : host->Bus().written) codes.push_back(report.at(3));
    return codes;
  }
  size_t PendingInput() { return Bus().Slot(0).input.size(); }
};

}  // namespace

TEST_F(CommandsTest, EachOperationWritesItsReportsAndFollowsTheCancelRule) {
  for (const Operation& op : Operations()) {
    SCOPED_TRACE(op.name);
    Fresh();
    Alt().cancelRequested = true;
    uint64_t before = Bus().Now();
    EXPECT_EQ(op.run(Alt()), Ok);
    EXPECT_EQ(WrittenCodes(), op.codes);
    EXPECT_EQ(Alt().cancelRequested.load(), !op.clearsCancel);
    EXPECT_EQ(PendingInput(), 0u);  // every reply the device sent was read
    EXPECT_LT(Bus().Now() - before, 3500000u);
  }
}

TEST_F(CommandsTest, AMissingFirstReplyWaitsTheOperationsTimeOut) {
  for (const Operation& op : Operations()) {
    SCOPED_TRACE(op.name);
    Fresh();
    Device().faults.noReplyAt = 0;
    uint64_t before = Bus().Now();
    EXPECT_EQ(op.run(Alt()), op.noReply);
    uint64_t waited = Bus().Now() - before;
    EXPECT_GE(waited, uint64_t{op.timeoutMs} * 1000);
    EXPECT_LT(waited, uint64_t{op.timeoutMs} * 1000 + 100000);
  }
}

TEST_F(CommandsTest, BootloaderModeRefusesWithoutWritingButClearMemoryStillDropsComments) {
  for (const Operation& op : Operations()) {
    if (!op.guarded) continue;
    SCOPED_TRACE(op.name);
    Fresh();
    Alt().bootloaderMode = true;
    Alt().cancelRequested = true;
    Alt().comments = {"first flight"};
    EXPECT_EQ(op.run(Alt()), ProtocolError);
    EXPECT_TRUE(Bus().written.empty());
    EXPECT_TRUE(Alt().cancelRequested);
    EXPECT_EQ(Alt().comments.empty(), std::string(op.name) == "ClearMemory");
  }
  // The reset and the restart into the bootloader still go out.
  EXPECT_TRUE(Alt().SendReset());
  EXPECT_EQ(Alt().EnterBootloader(), Ok);
  EXPECT_EQ(WrittenCodes(), (std::vector<uint8_t>{1, 11}));
}

// Seen by the ThreadSanitizer run: the comments are shared with a download's
// worker, which fills them under the data lock.
TEST_F(CommandsTest, ClearMemoryDropsTheCommentsUnderTheDataLock) {
  std::thread download([&] {
    for (int i = 0; i < 20; ++i) {
      std::lock_guard<std::recursive_mutex> lock(Alt().dataLock);
      Alt().comments.assign(2, "flight");
    }
  });
  EXPECT_EQ(Alt().ClearMemory(), Ok);
  download.join();
  EXPECT_EQ(Alt().ClearMemory(), Ok);
  EXPECT_TRUE(Alt().comments.empty());
}

TEST_F(CommandsTest, ReadSettingsStoresBytesAsTheyArrive) {
  struct Case {
    const char* name;
    void (*fault)(SimFaults&);
    CommandResult result;
    size_t replaced;  // packet bytes taken from the device
    const char* line;
  };
  const Case cases[] = {
      {"clean", [](SimFaults&) {}, Ok, 22, "Done."},
      {"code 13 is data", [](SimFaults& f) { f.codeAt = 3, f.replyCode = 13; }, Ok, 22, "Done."},
      {"code 255 is data", [](SimFaults& f) { f.codeAt = 0, f.replyCode = 255; }, Ok, 22, "Done."},
      {"fifth reply completes", [](SimFaults& f) { f.prematureCompletionAt = 4; }, ProtocolError, 4,
       "Premature end of data."},
      {"eleventh reply missing", [](SimFaults& f) { f.noReplyAt = 10; }, TransferError, 10, "Failed to read packet."},
      {"removed at the eighth", [](SimFaults& f) { f.removeAt = 7; }, TransferError, 7, "Failed to read packet."},
      {"completion carries 0", [](SimFaults& f) { f.codeAt = 22, f.replyCode = 0; }, ProtocolError, 22,
       "Settings Packet Read: 21"},
      {"completion missing", [](SimFaults& f) { f.noReplyAt = 22; }, TransferError, 22,
       "Could not read complete confirmation."},
      {"reset not written", [](SimFaults& f) { f.failWriteAt = 0; }, IoError, 0, "Write Error."},
      {"command not written", [](SimFaults& f) { f.failWriteAt = 1; }, IoError, 0, "Reading Settings..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    for (size_t i = 0; i < 22; ++i) Device().settingsStore[i] = static_cast<uint8_t>(0xA0 + i);
    c.fault(Device().faults);
    const SettingsPacket before = Alt().settings.packet;
    TraceCapture trace;
    EXPECT_EQ(Alt().ReadSettings(), c.result);
    for (size_t i = 0; i < 22; ++i)
      EXPECT_EQ(Alt().settings.packet[i], i < c.replaced ? 0xA0 + i : before[i]) << "byte " << i;
    EXPECT_TRUE(trace.Has(c.line)) << trace.Text();
    EXPECT_EQ(trace.Has("Done."), c.result == Ok);
  }
}

TEST_F(CommandsTest, ReadSettingsTracesEveryByte) {
  TraceCapture trace;
  ASSERT_EQ(Alt().ReadSettings(), Ok);
  std::vector<std::string> expected = {"Resetting device.", "Reading Settings..."};
  for (int i = 0; i < 22; ++i) expected.push_back("Settings Packet Read: " + std::to_string(i));
  expected.push_back("Done.");
  EXPECT_EQ(trace.Lines(), expected);
}

TEST_F(CommandsTest, WriteSettingsSendsTheResetTheCommandAndTwentyTwoDataReportsThenReadsOneReply) {
  Alt().settings.lineAValue = 0x1234;
  Alt().settings.BuildPacket();
  Alt().settings.packet[21] ^= 0xFF;  // a wrong checksum travels as it is
  Bus().written.clear();
  TraceCapture trace;
  ASSERT_EQ(Alt().WriteSettings(), Ok);
  const auto& written = Bus().written;
  ASSERT_EQ(written.size(), 24u);
  EXPECT_EQ(written[0].second, (std::vector<uint8_t>{0, 0, 0, 1}));
  EXPECT_EQ(written[1].second, (std::vector<uint8_t>{0, 0, 0, 9}));
  for (size_t i = 0; i < 22; ++i)
    EXPECT_EQ(written[2 + i].second, (std::vector<uint8_t>{0, Alt().settings.packet[i], 0, 0})) << i;
  EXPECT_EQ(Device().repliesSent, 1);
  EXPECT_EQ(PendingInput(), 0u);
  EXPECT_TRUE(std::equal(Alt().settings.packet.begin(), Alt().settings.packet.end(), Device().settingsStore.begin()));
  std::vector<std::string> expected = {"Resetting device.", "Writting Settings..."};
  for (int i = 0; i < 22; ++i) expected.push_back("Settings Packet Written: " + std::to_string(i));
  expected.push_back("Done.");
  EXPECT_EQ(trace.Lines(), expected);

  // The device keeps the packet as written, checksum and all.
  SettingsPacket sent = Alt().settings.packet;
  Alt().settings.LoadDefaults();
  ASSERT_EQ(Alt().ReadSettings(), Ok);
  EXPECT_EQ(Alt().settings.packet, sent);
  EXPECT_FALSE(Alt().settings.ParsePacket());
}

TEST_F(CommandsTest, WriteSettingsFailures) {
  struct Case {
    const char* name;
    void (*fault)(SimFaults&);
    CommandResult result;
    const char* line;
  };
  const Case cases[] = {
      {"reset not written", [](SimFaults& f) { f.failWriteAt = 0; }, IoError, "Write Error."},
      {"command not written", [](SimFaults& f) { f.failWriteAt = 1; }, IoError, "OPERATION_INVALIDHANDLE"},
      {"fourth byte not written", [](SimFaults& f) { f.failWriteAt = 5; }, TransferError, "Failed to write packet."},
      {"no completion", [](SimFaults& f) { f.noReplyAt = 0; }, TransferError, "Could not read complete confirmation."},
      {"completion carries 0", [](SimFaults& f) { f.codeAt = 0, f.replyCode = 0; }, ProtocolError,
       "Settings Packet Written: 21"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    c.fault(Device().faults);
    TraceCapture trace;
    EXPECT_EQ(Alt().WriteSettings(), c.result);
    EXPECT_TRUE(trace.Has(c.line)) << trace.Text();
    EXPECT_FALSE(trace.Has("Done."));
  }
  // A write that broke off after three bytes stored nothing on the device.
  Fresh();
  Device().settingsStore[5] = 0x77;
  Device().faults.failWriteAt = 5;
  EXPECT_EQ(Alt().WriteSettings(), TransferError);
  EXPECT_EQ(Device().settingsStore[5], 0x77);
}

namespace {

// A device that answers each command (not the reset) with the replies the test sets.
class ScriptedDevice : public SimDeviceModel {
 public:
  bool OnOutputReport(SimBus& bus, int slot, const std::vector<uint8_t>& report) override {
    if (report.at(3) == 1) return true;
    for (const auto& [value, code] : replies)
      bus.QueueReport(slot, {0, static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8), code}, 0);
    return true;
  }
  std::vector<std::pair<uint16_t, uint8_t>> replies;
};

class ScriptedCommandsTest : public SimTest {
 protected:
  void SetUp() override {
    auto bus = std::make_shared<SimBus>(false);
    host = std::make_shared<SimHost>(bus);
    script = std::make_shared<ScriptedDevice>();
    bus->Plug(bus->AddSlot(SimDevicePath(1, 2), 2, 0x0405, script));
    InstallHidHost(host);
    ASSERT_EQ(Alt().Connect(nullptr, false), Connected);
  }
  std::shared_ptr<ScriptedDevice> script;
};

}  // namespace

TEST_F(ScriptedCommandsTest, ReadAltitudeJoinsTheHalvesAsSignedTenths) {
  constexpr float kUntouched = -7777.0f;
  struct Case {
    std::vector<std::pair<uint16_t, uint8_t>> replies;
    CommandResult result;
    float metres;
  };
  const Case cases[] = {
      {{{0, 0}, {10000, 0}, {0, 5}}, Ok, 1000.0f},
      {{{65535, 0}, {64536, 0}, {0, 5}}, Ok, -100.0f},
      {{{0, 0}, {2876, 0}, {0, 5}}, Ok, 2876 * 0.1f},
      {{{1, 0}, {0, 0}, {0, 5}}, Ok, 6553.6f},
      {{{0, 5}}, ProtocolError, kUntouched},
      {{{0, 0}, {0, 13}}, ProtocolError, kUntouched},
      {{{0, 0}, {10000, 0}, {0, 0}}, ProtocolError, 1000.0f},  // stored before the completion
      {{{0, 0}, {10000, 0}}, IoError, 1000.0f},
      {{{0, 0}}, IoError, kUntouched},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.replies));
    script->replies = c.replies;
    float metres = kUntouched;
    EXPECT_EQ(Alt().ReadAltitude(metres), c.result);
    EXPECT_FLOAT_EQ(metres, c.metres);
  }
}

TEST_F(ScriptedCommandsTest, ReadVoltage) {
  struct Case {
    std::vector<std::pair<uint16_t, uint8_t>> replies;
    CommandResult result;
    uint16_t tenths;
  };
  const Case cases[] = {
      {{{93, 0}, {0, 5}}, Ok, 93},
      {{{120, 0}, {0, 0}}, ProtocolError, 120},
      {{{120, 5}}, ProtocolError, 1},
      {{{120, 0}}, IoError, 120},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.replies));
    script->replies = c.replies;
    uint16_t tenths = 1;
    TraceCapture trace;
    EXPECT_EQ(Alt().ReadVoltage(tenths), c.result);
    EXPECT_EQ(tenths, c.tenths);
    EXPECT_EQ(trace.Has("Done."), c.replies.size() == 2);  // once the completion reply is in
  }
}

TEST_F(ScriptedCommandsTest, ShortCommandsTraceTheirStepsAndWantCompletion) {
  struct Case {
    const char* name;
    CommandResult (CAltimeter::*run)();
    std::vector<std::string> trace;
  };
  const Case cases[] = {
      {"FireLines", &CAltimeter::FireLines, {"Resetting device...", "Sending command...", "Reading completion code..."}},
      {"ResetSettings", &CAltimeter::ResetSettings, {"Sending command...", "Reading completion code..."}},
      {"EnterBootloader", &CAltimeter::EnterBootloader, {"Sending command...", "Reading completion code..."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    script->replies = {{0, 5}};
    TraceCapture trace;
    EXPECT_EQ((Alt().*c.run)(), Ok);
    EXPECT_EQ(trace.Lines(), c.trace);
    script->replies = {{0, 0}};
    EXPECT_EQ((Alt().*c.run)(), ProtocolError);
  }
  script->replies = {{0, 0}};
  EXPECT_EQ(Alt().ClearMemory(), ProtocolError);
  script->replies = {{0, 0}, {0, 0}, {0, 0}};
  float metres = 0;
  TraceCapture trace;
  EXPECT_EQ(Alt().ReadAltitude(metres), ProtocolError);
  EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"Resetting device...", "Sending command...", "Reading data...",
                                                     "Reading completion code..."}));
}

// What the simulated flight computer does for these commands.
TEST_F(CommandsTest, SimulatedAltitudeIsTheGroundPlusTheStoredOffset) {
  float metres = 0;
  ASSERT_EQ(Alt().ReadAltitude(metres), Ok);
  EXPECT_NEAR(metres, Device().GetConfig().groundAltitude, 0.51);
  Device().settingsStore[6] = 0xF6;  // offset -10 m
  Device().settingsStore[7] = 0xFF;
  ASSERT_EQ(Alt().ReadAltitude(metres), Ok);
  EXPECT_NEAR(metres, Device().GetConfig().groundAltitude - 10, 0.51);
}

TEST_F(CommandsTest, SimulatedLinesFireForTwoSecondsAndPullTheBatteryDown) {
  uint16_t tenths = 0;
  ASSERT_EQ(Alt().ReadVoltage(tenths), Ok);
  EXPECT_EQ(tenths, 84);
  ASSERT_EQ(Alt().FireLines(), Ok);
  EXPECT_TRUE(Device().LinesOn(Bus().Now()));
  ASSERT_EQ(Alt().ReadVoltage(tenths), Ok);
  EXPECT_LT(tenths, 84);
  Bus().Sleep(2000);
  EXPECT_FALSE(Device().LinesOn(Bus().Now()));
  ASSERT_EQ(Alt().ReadVoltage(tenths), Ok);
  EXPECT_EQ(tenths, 84);
}

TEST_F(CommandsTest, SimulatedEraseTakesSecondsAndResetRestoresTheDefaults) {
  Device().flash[100] = 0x02;
  uint64_t before = Bus().Now();
  ASSERT_EQ(Alt().ClearMemory(), Ok);
  EXPECT_GE(Bus().Now() - before, 1000000u);
  EXPECT_EQ(std::count(Device().flash.begin(), Device().flash.end(), 0xFF),
            static_cast<long>(Device().flash.size()));

  Device().settingsStore.fill(0x33);
  ASSERT_EQ(Alt().ResetSettings(), Ok);
  ASSERT_EQ(Alt().ReadSettings(), Ok);
  EXPECT_EQ(Alt().settings.packet, SettingsRecord{}.packet);
  EXPECT_TRUE(Alt().settings.ParsePacket());
}

TEST_F(CommandsTest, SimulatedEnterBootloaderLeavesAndComesBackAsTheBootloader) {
  std::vector<uint32_t> events;
  CurrentHidHost().SetDeviceChangeSink([&](uint32_t event, const DeviceNotification&) { events.push_back(event); });
  ASSERT_EQ(Alt().EnterBootloader(), Ok);
  for (int i = 0; i < 20; ++i) Bus().Sleep(100);
  CurrentHidHost().SetDeviceChangeSink(nullptr);
  EXPECT_EQ(events, (std::vector<uint32_t>{kDeviceRemoveComplete, kDeviceArrival}));
  EXPECT_TRUE(Device().InBootloader());
  uint16_t version = 0;
  EXPECT_EQ(Alt().Connect(&version, true), Connected);
  EXPECT_EQ(version, Device().GetConfig().bootloaderVersion);
}
