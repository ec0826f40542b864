// The control operations through the recording host on the simulator: their
// events in order, and every fault at every position of their exchanges.
#include <cstring>

#include "settings/ControlTasks.h"
#include "tests/TaskTestSupport.h"

namespace {

using Events = std::vector<std::string>;
using Task = ControlOutcome (*)(CAltimeter&, TaskHost&);

constexpr int kDone = static_cast<int>(ControlOutcome::Done);
constexpr int kFailed = static_cast<int>(ControlOutcome::Failed);
const std::string kNotFound = "status: Altimeter not found. Make sure it is properly connected to the PC.";

class ControlTasksTest : public TaskTest {
 protected:
  // Three samples to emulate keep the exchange short.
  void Decode() { Alt().flight.altitudeMsl = {1320.0, 1320.5, 1321.0}; }
};

TEST_F(ControlTasksTest, EachOperationInItsOrderWithOrWithoutAChannel) {
  struct Case {
    const char* name;
    Task task;
    std::vector<std::string> prefix;  // the events up to the reading or the events of the emulation
    std::string resultStart;          // the result line begins so; empty for none
    std::vector<std::string> suffix;
  };
  const Case cases[] = {
      {"altitude", ReadAltitudeTask, {"busy"}, "result: Current MSL Altitude: ", {"idle", "redraw"}},
      {"voltage", ReadVoltageTask, {"busy"}, "result: Current Voltage: ", {"idle"}},
      {"fire", FireLinesTask, {"busy", "status: Firing both lines for 2 seconds...", "result: Done."}, "", {"idle"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    RecordingHost host;
    EXPECT_EQ(c.task(Alt(), host), ControlOutcome::Done);
    Events events = host.Events();
    if (!c.resultStart.empty()) {
      ASSERT_GT(events.size(), c.prefix.size());
      EXPECT_EQ(events[c.prefix.size()].rfind(c.resultStart, 0), 0u) << events[c.prefix.size()];
      events.erase(events.begin() + static_cast<std::ptrdiff_t>(c.prefix.size()));
    }
    Events want = c.prefix;
    want.insert(want.end(), c.suffix.begin(), c.suffix.end());
    EXPECT_EQ(events, want);

    Fresh();
    Alt().Close();
    RecordingHost none;
    EXPECT_EQ(c.task(Alt(), none), ControlOutcome::NotConnected);
    EXPECT_EQ(none.Events(), (Events{"busy", kNotFound, "idle"}));
  }
}

TEST_F(ControlTasksTest, TheAltitudeReadLeavesTheProgramsSettingsRecordAsItWas) {
  // A device whose settings differ from the program's in every byte.
  prepare = [](SimFlightComputer& d) {
    for (size_t i = 0; i < 20; ++i) d.settingsStore[i] = static_cast<uint8_t>(0xA0 + i);
  };
  Fresh();
  Alt().settings.lineAValue = 4321;
  unsigned char before[sizeof(SettingsRecord)];
  std::memcpy(before, &Alt().settings, sizeof before);
  RecordingHost host;
  EXPECT_EQ(ReadAltitudeTask(Alt(), host), ControlOutcome::Done);
  EXPECT_EQ(std::memcmp(before, &Alt().settings, sizeof before), 0);
}

TEST_F(ControlTasksTest, AnEmulationTellsEachEventOfTheDeviceAsAResult) {
  Fresh();
  Decode();
  RecordingHost host;
  EXPECT_EQ(EmulateLaunchTask(Alt(), host), ControlOutcome::Done);
  const Events events = host.Events();
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(Events(events.begin(), events.begin() + 2), (Events{"busy", "result: Emulating..."}));
  EXPECT_EQ(Events(events.end() - 2, events.end()), (Events{"result: Done.", "idle"}));
  for (size_t i = 2; i + 2 < events.size(); ++i) EXPECT_EQ(events[i].rfind("result: ", 0), 0u) << events[i];

}

TEST_F(ControlTasksTest, EveryFaultAtEveryPositionEndsInTheFailingStepsLines) {
  struct Case {
    const char* name;
    Task task;
    std::function<std::vector<FailingStep>(const Events&)> steps;
  };
  const Case cases[] = {
      {"altitude", ReadAltitudeTask,
       [](const Events&) {
         return std::vector<FailingStep>{{"ReadSettings", 1, 1, {"status: Failed to read settings.", "idle"}, kFailed},
                                         {"ReadAltitude", 1, 1, {"status: Failed.", "idle"}, kFailed}};
       }},
      {"voltage", ReadVoltageTask,
       [](const Events&) { return std::vector<FailingStep>{{"ReadVoltage", 1, 1, {"status: Failed.", "idle"}, kFailed}}; }},
      {"fire", FireLinesTask,
       [](const Events&) { return std::vector<FailingStep>{{"FireLines", 2, 2, {"status: Failed.", "idle"}, kFailed}}; }},
      {"emulate", EmulateLaunchTask,
       [](const Events& clean) {
         // Event lines as far as the device got, then the end.
         return std::vector<FailingStep>{{"EmulateLaunch", 2, clean.size() - 2, {"result: Failed.", "idle"}, kFailed},
                                         {"EmulateLaunch", 2, clean.size() - 2, {"result: Done.", "idle"}, kDone}};
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    prepare = nullptr;
    Sweep(
        [this, &c](RecordingHost& h) {
          Decode();
          return static_cast<int>(c.task(Alt(), h));
        },
        c.steps, kDone);
    if (HasFailure()) return;
  }
}

}  // namespace
