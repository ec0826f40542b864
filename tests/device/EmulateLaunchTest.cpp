#include <cmath>
#include <functional>
#include <limits>
#include <map>

#include "tests/TestSupport.h"

namespace {

// A device in emulation mode that asks for a sample after every sample it
// gets, and sends the events the test lists before a given request.
class EmulationScript : public SimDeviceModel {
 public:
  bool OnOutputReport(SimBus& bus, int slot, const std::vector<uint8_t>& report) override {
    uint16_t argument = static_cast<uint16_t>(report[1] | (report[2] << 8));
    uint8_t code = report[3];
    codes.push_back(code);
    if (code == failWriteOfCode) return false;
    if (code == 1) {
      ++resets;
      if (completionCode >= 0) bus.QueueReport(slot, {0, 0, 0, static_cast<uint8_t>(completionCode)}, 0);
    } else if (code == 4 && eventsWithoutRequests > 0) {
      for (size_t i = 0; i < eventsWithoutRequests; ++i) bus.QueueReport(slot, {0, 0, 0, 16}, 0);
    } else if (code == 4 || code == 22) {
      if (code == 22) samples.push_back(argument);
      if (samples.size() == silentAfter) return true;
      auto it = eventsBefore.find(samples.size());
      if (it != eventsBefore.end()) {
        for (auto [event, value] : it->second)
          bus.QueueReport(slot, {0, static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), event}, 0);
        if (it->second.back().first == 21 || it->second.back().first == 20) return true;
      }
      bus.QueueReport(slot, {0, 0, 0, 15}, 0);
    }
    return true;
  }

  std::vector<uint8_t> codes;       // every command code written
  std::vector<uint16_t> samples;    // the samples received
  int resets = 0;
  int completionCode = 5;           // -1: the final reset is never answered
  size_t silentAfter = SIZE_MAX;    // no reply at all after this many samples
  int failWriteOfCode = -1;
  size_t eventsWithoutRequests = 0;  // after the start: this many events, never a request
  // Events sent after this many samples, before the next request; an ending
  // code (21, 20) is sent instead of the request.
  std::map<size_t, std::vector<std::pair<uint8_t, uint16_t>>> eventsBefore;
};

class EventRecorder : public ShowEmulationEvent {
 public:
  void OnEmulationEvent(uint8_t code, int requestCount) override {
    events.emplace_back(code, requestCount);
    if (hook) hook(code, requestCount);
  }
  std::vector<std::pair<int, int>> events;
  std::function<void(uint8_t, int)> hook;
};

class EmulateLaunchTest : public SimTest {
 protected:
  void SetUp() override {
    bus = std::make_shared<SimBus>(false);
    bus->replyLatencyUs = 0;
    auto sim = std::make_shared<SimHost>(bus);
    device = std::make_shared<EmulationScript>();
    slot = bus->AddSlot(SimDevicePath(1, 2), 2, 0x0405, device);
    bus->Plug(slot);
    host = sim;
    InstallHidHost(sim);
    ASSERT_EQ(Alt().Connect(nullptr, false), Connected);
  }
  std::vector<double>& Series() { return Alt().flight.altitudeMsl; }

  std::shared_ptr<SimBus> bus;
  std::shared_ptr<EmulationScript> device;
  int slot = 0;
};

const char kRequestLine[] = "The device is requesting ADC data. Data: ";

TEST_F(EmulateLaunchTest, FiftySamplesAfterTheGroundPhaseThenTheEnding) {
  for (int i = 0; i < 50; ++i) Series().push_back(1000.0 + i);
  EventRecorder dialog;
  TraceCapture trace;
  ASSERT_TRUE(Alt().EmulateLaunch(&dialog));

  ASSERT_EQ(device->samples.size(), 162u);
  for (size_t k = 0; k <= 112; ++k) ASSERT_EQ(device->samples[k], 1000) << "request " << k;
  for (size_t k = 113; k < 162; ++k) ASSERT_EQ(device->samples[k], 1000 + (k - 112)) << "request " << k;
  // Start, 162 samples, then the reset of the ending.
  EXPECT_EQ(device->codes.front(), 4);
  EXPECT_EQ(device->codes.back(), 1);
  EXPECT_EQ(device->codes.size(), 164u);

  std::vector<std::pair<int, int>> expected;
  for (int count = 0; count <= 160; count += 10) expected.emplace_back(15, count);
  EXPECT_EQ(dialog.events, expected);

  std::vector<std::string> lines = trace.Lines();
  EXPECT_EQ(lines.front(), "Emulating Launch...");
  EXPECT_EQ(lines[1], std::string(kRequestLine) + "1000");
  EXPECT_EQ(lines[114], std::string(kRequestLine) + "1001");
  EXPECT_EQ(lines.back(), std::string(kRequestLine) + "End of available data.");
  EXPECT_EQ(lines.size(), 164u);

  // A 10 ms pause on the host's clock before each of the 163 requests read.
  EXPECT_EQ(bus->Now(), 163u * 10000u);
}

TEST_F(EmulateLaunchTest, EmptySeriesGoesStraightToTheEnding) {
  TraceCapture trace;
  EXPECT_TRUE(Alt().EmulateLaunch(nullptr));
  EXPECT_TRUE(device->samples.empty());
  EXPECT_EQ(device->codes, (std::vector<uint8_t>{4, 1}));
  EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"Emulating Launch...",
                                                     std::string(kRequestLine) + "End of available data."}));
}

TEST_F(EmulateLaunchTest, SamplesAreTruncatedTowardZeroAndSentAsTheirLow16Bits) {
  const std::pair<double, uint16_t> cases[] = {
      {1234.9, 1234},
      {-3.7, 65533},
      {-0.9, 0},
      {65536.0 + 7.5, 7},
      {-70000.0, 61072},
      {std::numeric_limits<double>::quiet_NaN(), 0},
      {std::numeric_limits<double>::infinity(), 0},
  };
  for (auto [metres, sent] : cases) {
    SCOPED_TRACE(metres);
    device->samples.clear();
    Series() = {metres};
    ASSERT_TRUE(Alt().EmulateLaunch(nullptr));
    ASSERT_EQ(device->samples.size(), 113u);
    EXPECT_EQ(device->samples.front(), sent);
    EXPECT_EQ(device->samples.back(), sent);
  }
}

TEST_F(EmulateLaunchTest, DeviceEventsAreTracedReportedAndEndOfLaunchEnds) {
  Series().assign(300, 1320.0);
  device->eventsBefore[120] = {{16, 0}, {17, 0}};
  device->eventsBefore[150] = {{19, 42}, {18, 0}};
  device->eventsBefore[200] = {{21, 0}};
  EventRecorder dialog;
  TraceCapture trace;
  ASSERT_TRUE(Alt().EmulateLaunch(&dialog));
  EXPECT_EQ(device->samples.size(), 200u);
  EXPECT_EQ(device->codes.back(), 1);

  std::vector<std::pair<int, int>> events;
  for (auto e : dialog.events)
    if (e.first != 15) events.push_back(e);
  EXPECT_EQ(events, (std::vector<std::pair<int, int>>{{16, 120}, {17, 120}, {19, 150}, {18, 150}, {21, 200}}));

  std::vector<std::string> lines;
  for (const std::string& line : trace.Lines())
    if (line.rfind(kRequestLine, 0) != 0) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"Emulating Launch...", "Launch detected.", "Line A fired.", "Apogee!",
                                             "Slope: 42", "Line B fired.", "Device indicates end of launch."}));
}

TEST_F(EmulateLaunchTest, UnknownCodeIsReportedAndEndsThroughTheEnding) {
  Series().assign(10, 100.0);
  device->eventsBefore[5] = {{20, 7}};
  EventRecorder dialog;
  TraceCapture trace;
  EXPECT_TRUE(Alt().EmulateLaunch(&dialog));
  EXPECT_EQ(dialog.events.back(), std::make_pair(20, 5));
  EXPECT_EQ(trace.Lines().back(), "Unknown code received.");
  EXPECT_EQ(device->codes.back(), 1);
  EXPECT_EQ(device->resets, 1);
}

TEST_F(EmulateLaunchTest, StopWhileARequestWaitsSendsOnlyTheReset) {
  for (bool resetWritten : {true, false}) {
    SCOPED_TRACE(resetWritten);
    device->samples.clear();
    device->codes.clear();
    device->failWriteOfCode = resetWritten ? -1 : 1;
    Series().assign(200, 500.0);
    EventRecorder dialog;
    // The dialog closes while request 20 is being served.
    dialog.hook = [&](uint8_t, int count) {
      if (count == 20) Alt().cancelRequested = true;
    };
    TraceCapture trace;
    EXPECT_EQ(Alt().EmulateLaunch(&dialog), resetWritten);
    EXPECT_EQ(device->samples.size(), 20u);
    EXPECT_EQ(device->codes.back(), 1);
    std::vector<std::string> tail = {std::string(kRequestLine) + "500", "User ended emulation.", "Reseting device."};
    if (!resetWritten) tail.push_back("Write Error.");
    std::vector<std::string> lines = trace.Lines();
    ASSERT_GE(lines.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(lines.end() - static_cast<long>(tail.size()), lines.end()), tail);
    // The device's completion is left unread.
    EXPECT_EQ(bus->Slot(slot).input.size(), resetWritten ? 1u : 0u);
    bus->Slot(slot).input.clear();
  }
}

TEST_F(EmulateLaunchTest, StopAfterAnEventSendsOnlyTheResetWhenNoRequestComes) {
  device->eventsWithoutRequests = 500;
  device->completionCode = -1;
  Series().assign(200, 500.0);
  for (bool resetWritten : {true, false}) {
    SCOPED_TRACE(resetWritten);
    device->codes.clear();
    device->failWriteOfCode = resetWritten ? -1 : 1;
    bus->Slot(slot).input.clear();
    EventRecorder dialog;
    dialog.hook = [&](uint8_t, int) { Alt().cancelRequested = true; };
    TraceCapture trace;
    EXPECT_EQ(Alt().EmulateLaunch(&dialog), resetWritten);
    EXPECT_EQ(dialog.events, (std::vector<std::pair<int, int>>{{16, 0}}));
    EXPECT_EQ(device->codes, (std::vector<uint8_t>{4, 1}));
    std::vector<std::string> expected = {"Emulating Launch...", "Launch detected.", "User ended emulation.",
                                         "Reseting device."};
    if (!resetWritten) expected.push_back("Write Error.");
    EXPECT_EQ(trace.Lines(), expected);
  }
}

TEST_F(EmulateLaunchTest, ACancelLeftFromBeforeIsClearedAtTheStart) {
  Alt().cancelRequested = true;
  Series().assign(3, 10.0);
  EXPECT_TRUE(Alt().EmulateLaunch(nullptr));
  EXPECT_EQ(device->samples.size(), 115u);
}

struct TimeoutCase {
  const char* what;
  size_t silentAfter;
  int completionCode;
  uint64_t waitedMs;
};

TEST_F(EmulateLaunchTest, TimeOutsOnTheVirtualClock) {
  const TimeoutCase cases[] = {
      {"no first request", 0, 5, 20000},
      {"no request after sample 30", 30, 5, 20000},
      {"no completion", SIZE_MAX, -1, 60000},
  };
  for (const TimeoutCase& c : cases) {
    SCOPED_TRACE(c.what);
    device->samples.clear();
    device->codes.clear();
    device->silentAfter = c.silentAfter;
    device->completionCode = c.completionCode;
    Series().assign(5, 10.0);
    uint64_t before = bus->Now();
    TraceCapture trace;
    EXPECT_FALSE(Alt().EmulateLaunch(nullptr));
    EXPECT_EQ(trace.Lines().back(), "Read Error.");
    uint64_t elapsed = bus->Now() - before;
    EXPECT_GE(elapsed, c.waitedMs * 1000);
    EXPECT_LT(elapsed, c.waitedMs * 1000 + 2000000);
    // After a missing request nothing more is sent, not even a reset.
    if (c.completionCode >= 0) {
      EXPECT_NE(device->codes.back(), 1);
    }
  }
}

TEST_F(EmulateLaunchTest, CompletionOtherThanFiveFails) {
  device->completionCode = 13;
  Series().assign(2, 10.0);
  EXPECT_FALSE(Alt().EmulateLaunch(nullptr));
  EXPECT_EQ(device->resets, 1);
}

TEST_F(EmulateLaunchTest, RefusedWritesAndBootloaderMode) {
  Series().assign(2, 10.0);
  {
    device->failWriteOfCode = 4;
    TraceCapture trace;
    EXPECT_FALSE(Alt().EmulateLaunch(nullptr));
    EXPECT_EQ(trace.Lines().back(), "Write Error.");
    EXPECT_EQ(device->codes, (std::vector<uint8_t>{4}));
  }
  {
    device->codes.clear();
    device->failWriteOfCode = 22;
    TraceCapture trace;
    EXPECT_FALSE(Alt().EmulateLaunch(nullptr));
    EXPECT_EQ(trace.Lines().back(), "Write Error");
    EXPECT_EQ(device->codes, (std::vector<uint8_t>{4, 22}));
  }
  {
    device->codes.clear();
    device->failWriteOfCode = -1;
    Alt().bootloaderMode = true;
    TraceCapture trace;
    EXPECT_FALSE(Alt().EmulateLaunch(nullptr));
    EXPECT_TRUE(device->codes.empty());
    EXPECT_TRUE(trace.Lines().empty());
  }
}

}  // namespace
