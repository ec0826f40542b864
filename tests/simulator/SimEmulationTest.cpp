#include "simulator/SimEmulation.h"

#include <algorithm>
#include <cmath>

#include "simulator/SimApplicationFirmware.h"
#include "tests/TestSupport.h"
#include "tests/simulator/TestFlight.h"

namespace {

class EventRecorder : public ShowEmulationEvent {
 public:
  void OnEmulationEvent(uint8_t code, int requestCount) override {
    if (code != 15) events.emplace_back(code, requestCount);
  }
  std::vector<std::pair<int, int>> events;
};

using SimEmulationTest = SimTest;

// Sample i of the flight is served by request 112 + i; its events reach the
// host with 113 + i requests served.
int SampleOfEvent(int requestCount) { return requestCount - 113; }

TEST_F(SimEmulationTest, RecordedFlightGivesTheDevicesEventsInOrder) {
  TestFlight f = MakeTestFlight();
  ASSERT_EQ(Alt().Connect(nullptr, false), Connected);
  Alt().flight.altitudeMsl = f.msl;  // the device's own settings: Line A at apogee, Line B at 150 m
  EventRecorder dialog;
  TraceCapture trace;
  ASSERT_TRUE(Alt().EmulateLaunch(&dialog));

  ASSERT_EQ(dialog.events.size(), 5u);
  const int codes[] = {16, 19, 17, 18, 21};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(dialog.events[i].first, codes[i]) << i;
  int launch = SampleOfEvent(dialog.events[0].second);
  int apogee = SampleOfEvent(dialog.events[1].second);
  int lineA = SampleOfEvent(dialog.events[2].second);
  int lineB = SampleOfEvent(dialog.events[3].second);
  int end = SampleOfEvent(dialog.events[4].second);
  EXPECT_GE(launch, f.launch);
  EXPECT_LE(launch, f.launch + 10);  // within a second of leaving the pad
  EXPECT_GT(apogee, f.apogee);
  EXPECT_LE(apogee, f.apogee + 15);  // within a second and a half
  EXPECT_EQ(lineA, apogee);
  EXPECT_GE(lineB, f.main - 1);  // whole metres may cross 150 m a sample early
  EXPECT_LE(lineB, f.main + 1);
  EXPECT_GE(end, f.landed + 25);
  EXPECT_LE(end, f.landed + 40);

  // The slope with the apogee: a descent rate just begun, in tenths of a m/s.
  std::vector<std::string> lines = trace.Lines();
  auto slope = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Slope: ", 0) == 0; });
  ASSERT_NE(slope, lines.end());
  int tenths = std::stoi(slope->substr(7));
  EXPECT_GT(tenths, 0);
  EXPECT_LT(tenths, 250);
}

TEST_F(SimEmulationTest, ResetEndsTheEmulationModeWithACompletion) {
  ASSERT_EQ(Alt().Connect(nullptr, false), Connected);
  uint16_t value = 0;
  uint8_t code = 0;
  ASSERT_TRUE(Alt().SendCommand(0, 4));
  ASSERT_TRUE(Alt().ReceiveReply(value, &code, 1000));
  EXPECT_EQ(code, 15);
  ASSERT_TRUE(Alt().SendCommand(1320, 22));
  ASSERT_TRUE(Alt().ReceiveReply(value, &code, 1000));
  EXPECT_EQ(code, 15);

  ASSERT_TRUE(Alt().SendReset());
  ASSERT_TRUE(Alt().ReceiveReply(value, &code, 1000));
  EXPECT_EQ(code, 5);
  // Out of the emulation a reset is a plain reset again: no answer.
  ASSERT_TRUE(Alt().SendReset());
  EXPECT_FALSE(Alt().ReceiveReply(value, &code, 1000));
}

TEST_F(SimEmulationTest, DeviceAsksTenTimesASecond) {
  ASSERT_EQ(Alt().Connect(nullptr, false), Connected);
  Alt().flight.altitudeMsl.assign(87, 500.0);  // 200 requests, no launch
  uint64_t before = Bus().Now();
  ASSERT_TRUE(Alt().EmulateLaunch(nullptr));
  uint64_t elapsed = Bus().Now() - before;
  EXPECT_GE(elapsed, 199u * 100000u);
  EXPECT_LT(elapsed, 201u * 100000u);
}

// The default settings packet with one change: the line modes, values, delays and Mach inhibit.
std::array<uint8_t, 22> Settings(uint8_t modes, uint16_t valueA, uint16_t valueB, uint8_t delayA = 0,
                                 uint16_t machInhibit = 20) {
  std::array<uint8_t, 22> s = kSimDefaultSettings;
  s[3] = static_cast<uint8_t>(machInhibit);
  s[4] = static_cast<uint8_t>(machInhibit >> 8);
  s[8] = modes;
  s[9] = static_cast<uint8_t>(valueA);
  s[10] = static_cast<uint8_t>(valueA >> 8);
  s[11] = static_cast<uint8_t>(valueB);
  s[12] = static_cast<uint8_t>(valueB >> 8);
  s[16] = delayA;
  return s;
}

struct FlightEvents {
  int launch = -1, apogee = -1, lineA = -1, lineB = -1, end = -1;
};

// Feeds the flight to the device's logic as the host would, ground phase first.
FlightEvents Fly(const std::array<uint8_t, 22>& settings, const TestFlight& f) {
  SimFlightLogic logic(settings);
  FlightEvents run;
  for (int k = 0; !logic.Ended() && k < 112 + static_cast<int>(f.msl.size()); ++k) {
    int i = std::max(0, k - 112);
    for (const SimFlightLogic::Event& e : logic.OnSample(static_cast<int16_t>(f.msl[static_cast<size_t>(i)]))) {
      int* at = e.code == 16 ? &run.launch : e.code == 19 ? &run.apogee : e.code == 17 ? &run.lineA
                : e.code == 18 ? &run.lineB : &run.end;
      EXPECT_EQ(*at, -1) << "code " << int(e.code) << " twice";
      *at = i;
    }
  }
  return run;
}

TEST_F(SimEmulationTest, LinesFireByTheirModesValuesDelaysAndTheMachInhibit) {
  const TestFlight f = MakeTestFlight();
  const FlightEvents plain = Fly(kSimDefaultSettings, f);
  ASSERT_GE(plain.launch, 0);
  ASSERT_GE(plain.apogee, 0);
  int climbTo300 = 0;
  while (f.msl[static_cast<size_t>(climbTo300)] - f.msl[0] < 300) ++climbTo300;

  struct Case {
    const char* what;
    std::array<uint8_t, 22> settings;
    int lineALow, lineAHigh;  // sample window of Line A; -1, -1 = never
    int lineBLow, lineBHigh;
  };
  const Case cases[] = {
      {"A after 3 s, B disabled", Settings(0x01, 30, 0), plain.launch + 30, plain.launch + 30, -1, -1},
      {"A at apogee with a 1 s delay", Settings(0x32, 0, 150, 10), plain.apogee + 10, plain.apogee + 10,
       f.main - 1, f.main + 1},
      {"A at 300 m climbing, B at peak climb velocity", Settings(0x54, 300, 0), climbTo300 - 1, climbTo300 + 1,
       f.burnout, f.burnout + 15},
      // Never as high as 2000 m: the line fires at apogee.
      {"B at 2000 m on the way down", Settings(0x30, 0, 2000), -1, -1, plain.apogee, plain.apogee},
      {"A 2000 m before apogee never fires", Settings(0x04, 2000, 0), -1, -1, -1, -1},
      // A Mach inhibit longer than the climb holds the apogee back.
      {"A at apogee, 15 s Mach inhibit", Settings(0x02, 0, 0, 0, 150), plain.launch + 150, plain.launch + 150, -1,
       -1},
      {"unknown modes never fire", Settings(0x9F, 0, 0), -1, -1, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FlightEvents run = Fly(c.settings, f);
    EXPECT_EQ(run.launch, plain.launch);
    EXPECT_GE(run.end, 0);
    if (c.lineALow < 0) {
      EXPECT_EQ(run.lineA, -1);
    } else {
      EXPECT_GE(run.lineA, c.lineALow);
      EXPECT_LE(run.lineA, c.lineAHigh);
    }
    if (c.lineBLow < 0) {
      EXPECT_EQ(run.lineB, -1);
    } else {
      EXPECT_GE(run.lineB, c.lineBLow);
      EXPECT_LE(run.lineB, c.lineBHigh);
    }
  }
}

TEST_F(SimEmulationTest, GroundNoiseAndAGlitchAreNoLaunch) {
  TestFlight pad;
  for (int i = 0; i < 600; ++i) pad.msl.push_back(1320.0 + 3.0 * std::sin(i * 0.9) + (i == 300 ? 40.0 : 0.0));
  FlightEvents run = Fly(kSimDefaultSettings, pad);
  EXPECT_EQ(run.launch, -1);
  EXPECT_EQ(run.end, -1);
}

}  // namespace
