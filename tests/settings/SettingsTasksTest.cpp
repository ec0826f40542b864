// The settings operations through the recording host on the simulator: their
// events in order, each answer to their questions, a form that holds a bad
// number, and every fault at every position of their exchanges.
#include "resources/resource.h"
#include "settings/SettingsTasks.h"
#include "tests/TaskTestSupport.h"

namespace {

using Events = std::vector<std::string>;

const Events kReadEvents = {"status: Attempting to connect to device.", "status: Altimeter found! Reading settings...",
                            "status: Settings read successfully.", "show", "idle", "redraw"};

Events Concat(std::initializer_list<Events> parts) {
  Events all;
  for (const Events& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

const Events kWriteEvents = Concat({{"ask 116", "form", "status: Attempting to connect to device.",
                                     "status: Clearing data... please wait a few seconds.", "status: Data cleared.",
                                     "status: Writing settings...", "status: Settings written successfully.", "show",
                                     "redraw"},
                                    kReadEvents,
                                    {"idle"}});

int Code(SettingsOutcome o) { return static_cast<int>(o); }
constexpr int kDone = static_cast<int>(SettingsOutcome::Done);
constexpr int kFailed = static_cast<int>(SettingsOutcome::Failed);

// The index just after the n-th (from 0) event equal to line.
size_t AfterNth(const Events& events, const std::string& line, int n) {
  for (size_t i = 0; i < events.size(); ++i)
    if (events[i] == line && n-- == 0) return i + 1;
  ADD_FAILURE() << "no " << n << "th \"" << line << "\"";
  return events.size();
}

// The read's own failing step, at its n-th run within an operation.
FailingStep ReadStep(const Events& clean, int n, Events after, int outcome, size_t resume = FailingStep::kEnds) {
  const size_t at = AfterNth(clean, "status: Altimeter found! Reading settings...", n);
  Events tail = {"retry", "status: Failed to read settings."};
  tail.insert(tail.end(), after.begin(), after.end());
  return {"ReadSettings #" + std::to_string(n), at, at, tail, outcome, resume};
}

FailingStep OneStep(const Events& clean, const std::string& name, const std::string& line, Events tail, int outcome) {
  const size_t at = After(clean, line);
  return {name, at, at, std::move(tail), outcome};
}

class SettingsTasksTest : public TaskTest {};

TEST_F(SettingsTasksTest, ReadShowsTheDeviceRecordOrTheDefaultsInPlaceOfADamagedOne) {
  Fresh();
  RecordingHost host;
  EXPECT_EQ(ReadSettingsTask(Alt(), host), SettingsOutcome::Done);
  EXPECT_EQ(host.Events(), kReadEvents);
  ASSERT_TRUE(host.shown);
  EXPECT_EQ(host.shown->packet, kSimDefaultSettings);

  // A damaged packet is never shown: the defaults are, and the packet as read is told.
  prepare = [](SimFlightComputer& d) { d.settingsStore[3] ^= 0x40; };
  Fresh();
  RecordingHost damaged;
  SettingsPacket asRead{};
  EXPECT_EQ(ReadSettingsTask(Alt(), damaged, &asRead), SettingsOutcome::DefaultsShown);
  EXPECT_EQ(damaged.Events(), (Events{"status: Attempting to connect to device.",
                                      "status: Altimeter found! Reading settings...",
                                      "status: Checksum failed. The device settings are invalid.",
                                      "status: Displaying default settings.", "show", "idle", "redraw"}));
  EXPECT_EQ(asRead[3], kSimDefaultSettings[3] ^ 0x40);
  SettingsRecord defaults;
  defaults.LoadDefaults();
  defaults.ParsePacket();
  EXPECT_EQ(damaged.shown->packet, defaults.packet);
}

TEST_F(SettingsTasksTest, WithoutAChannelEveryTaskSaysSoAndTouchesNothing) {
  struct Case {
    const char* name;
    std::function<SettingsOutcome(CAltimeter&, TaskHost&)> run;
    Events events;
  };
  const std::string notFound = "status: Altimeter not found. Make sure it is properly connected to the PC.";
  const Case cases[] = {
      {"read", [](CAltimeter& a, TaskHost& h) { return ReadSettingsTask(a, h); },
       {"status: Attempting to connect to device.", "retry", notFound}},
      {"write", WriteSettingsTask, {"ask 116", "form", "status: Attempting to connect to device.", "retry", notFound}},
      {"reset", ResetSettingsTask, {"ask 116", "busy", notFound, "idle"}},
      {"calibrate", [](CAltimeter& a, TaskHost& h) { return CalibrateTask(a, h, 300); }, {"busy", notFound, "idle"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    Alt().Close();
    RecordingHost host;
    EXPECT_EQ(c.run(Alt(), host), SettingsOutcome::NotConnected);
    EXPECT_EQ(host.Events(), c.events);
    EXPECT_EQ(Device().writesSeen, 0);
  }
}

TEST_F(SettingsTasksTest, AnythingButYesToTheClearingQuestionLeavesTheDeviceUntouched) {
  const Events declined = {"ask 116", "idle"};
  for (TaskAnswer answer : {TaskAnswer::No, TaskAnswer::None, TaskAnswer::Ok}) {
    for (auto task : {WriteSettingsTask, ResetSettingsTask}) {
      Fresh();
      const std::vector<uint8_t> flash = Device().flash;
      RecordingHost host;
      host.answer = [answer](uint32_t, uint32_t) { return answer; };
      EXPECT_EQ(task(Alt(), host), SettingsOutcome::Declined);
      EXPECT_EQ(host.Events(), declined);
      EXPECT_EQ(Device().writesSeen, 0);
      EXPECT_EQ(Device().flash, flash);
    }
  }
}

TEST_F(SettingsTasksTest, WriteTakesTheFormAndWarnsOfALargeInhibitAndADisabledLine) {
  Fresh();
  SettingsRecord shown;
  shown.LoadDefaults();
  shown.ParsePacket();
  SettingsControls form = ShowSettingsForm(shown);
  form.machInhibit = L"21";
  form.lineB.checkedMode = Disabled;
  form.lineA.delay = L"3";
  RecordingHost host;
  host.form = form;
  EXPECT_EQ(WriteSettingsTask(Alt(), host), SettingsOutcome::Done);
  const Events events = host.Events();
  EXPECT_EQ(Events(events.begin(), events.begin() + 5),
            (Events{"ask 116", "form", "ask " + std::to_string(IDS_INHIBIT_LARGE),
                    "ask " + std::to_string(IDS_LINES_DISABLED), "status: Attempting to connect to device."}));
  // What the device holds now is what the form said.
  SettingsRecord stored;
  stored.packet = Device().settingsStore;
  ASSERT_TRUE(stored.ParsePacket());
  EXPECT_EQ(stored.machInhibit, 210);
  EXPECT_EQ(stored.lineBMode, Disabled);
  EXPECT_EQ(stored.lineADelay, 30);

  // The warning's boundary: 20 s exactly is not large.
  Fresh();
  form.machInhibit = L"20";
  form.lineB.checkedMode = Altitude;
  RecordingHost quiet;
  quiet.form = form;
  EXPECT_EQ(WriteSettingsTask(Alt(), quiet), SettingsOutcome::Done);
  EXPECT_EQ(quiet.Events(), kWriteEvents);
}

// The form shows whole seconds and volts; a write with those fields untouched
// puts back the very tenths the device held, and the changed field as typed.
TEST_F(SettingsTasksTest, AWriteKeepsTheTenthsOfTheFieldsTheUserDidNotTouch) {
  prepare = [](SimFlightComputer& d) {
    SettingsRecord tenths;
    tenths.packet = d.settingsStore;
    tenths.ParsePacket();
    tenths.lineADelay = 25;    // 2.5 s
    tenths.machInhibit = 25;   // 2.5 s
    tenths.minBattery = 85;    // 8.5 V
    tenths.lineBMode = Time;
    tenths.lineBValue = 35;    // 3.5 s
    tenths.BuildPacket();
    d.settingsStore = tenths.packet;
  };
  Fresh();
  RecordingHost read;
  ASSERT_EQ(ReadSettingsTask(Alt(), read), SettingsOutcome::Done);
  SettingsControls form = ShowSettingsForm(*read.shown);
  form.lineB.delay = L"1";
  RecordingHost write;
  write.form = form;
  ASSERT_EQ(WriteSettingsTask(Alt(), write), SettingsOutcome::Done);
  SettingsRecord stored;
  stored.packet = Device().settingsStore;
  ASSERT_TRUE(stored.ParsePacket());
  EXPECT_EQ(stored.lineADelay, 25);
  EXPECT_EQ(stored.machInhibit, 25);
  EXPECT_EQ(stored.minBattery, 85);
  EXPECT_EQ(stored.lineBValue, 35);
  EXPECT_EQ(stored.lineBDelay, 10);
}

TEST_F(SettingsTasksTest, AFormWithANumberThatDoesNotFitIsRefusedBeforeTheDeviceIsTouched) {
  Fresh();
  SettingsRecord shown;
  shown.LoadDefaults();
  shown.ParsePacket();
  SettingsControls form = ShowSettingsForm(shown);
  form.lineA.onTime = L"256";
  RecordingHost host;
  host.form = form;
  const SettingsRecord before = Alt().settings;
  EXPECT_EQ(WriteSettingsTask(Alt(), host), SettingsOutcome::FormRefused);
  EXPECT_EQ(host.Events(), (Events{"ask 116", "form", "ask " + std::to_string(IDS_LINE_A_ON_TIME_RANGE), "idle"}));
  EXPECT_EQ(Device().writesSeen, 0);
  EXPECT_EQ(Alt().settings.packet, before.packet);
}

TEST_F(SettingsTasksTest, ResetAndCalibrateInTheirOrder) {
  Fresh();
  RecordingHost reset;
  EXPECT_EQ(ResetSettingsTask(Alt(), reset), SettingsOutcome::Done);
  EXPECT_EQ(reset.Events(), Concat({{"ask 116", "busy", "status: Clearing data... please wait a few seconds.",
                                     "status: Data cleared.", "status: Resetting...", "status: Settings have been reset."},
                                    kReadEvents,
                                    {"idle", "redraw"}}));

}

// The calibration asks once, before anything on the device is cleared or
// written, and writes what the form holds with the new offset.
TEST_F(SettingsTasksTest, CalibrateAsksFirstAndKeepsWhatTheFormHolds) {
  for (TaskAnswer answer : {TaskAnswer::No, TaskAnswer::None}) {
    Fresh();
    const std::vector<uint8_t> flash = Device().flash;
    const auto store = Device().settingsStore;
    RecordingHost declined;
    declined.answer = [answer](uint32_t, uint32_t) { return answer; };
    EXPECT_EQ(CalibrateTask(Alt(), declined, 1330), SettingsOutcome::Declined);
    EXPECT_EQ(declined.Events(), (Events{"busy", "ask 116", "status: Calibration not done: nothing was cleared or written.",
                                         "idle"}));
    EXPECT_EQ(Device().flash, flash);
    EXPECT_EQ(Device().settingsStore, store);
  }

  // The simulator stands at 1320 m; the ground is said to be 1330 m. The
  // form holds an edit the user has not written yet.
  Fresh();
  const std::vector<uint8_t> flash = Device().flash;
  SettingsRecord shown;
  shown.LoadDefaults();
  shown.ParsePacket();
  SettingsControls form = ShowSettingsForm(shown);
  form.lineA.delay = L"3";
  RecordingHost calibrate;
  calibrate.form = form;
  EXPECT_EQ(CalibrateTask(Alt(), calibrate, 1330), SettingsOutcome::Done);
  const Events events = calibrate.Events();
  const size_t offset = After(events, "status: Calibrating...");
  ASSERT_LT(offset, events.size());
  const std::string offsetLine = events[offset];
  EXPECT_EQ(events, Concat({{"busy", "ask 116", "form", "status: Clearing data... please wait a few seconds.",
                             "status: Data cleared.", "status: Calibrating...", offsetLine, "status: Writing settings...",
                             "status: Settings written successfully.", "show", "redraw"},
                            kReadEvents,
                            {"idle", "status: Calibration complete.", "idle", "redraw"}}));
  const int difference = std::stoi(offsetLine.substr(std::string("status: Offset: ").size()));
  EXPECT_NEAR(difference, 10, 2);
  SettingsRecord stored;
  stored.packet = Device().settingsStore;
  ASSERT_TRUE(stored.ParsePacket());
  EXPECT_EQ(stored.altitudeOffset, CalibratedOffset(0, difference));
  EXPECT_EQ(stored.lineADelay, 30);
  EXPECT_NE(Device().flash, flash);  // the flights are gone, as the user agreed
}

TEST_F(SettingsTasksTest, EveryFaultAtEveryPositionEndsInTheFailingStepsLines) {
  SCOPED_TRACE("read");
  Sweep([this](RecordingHost& h) { return Code(ReadSettingsTask(Alt(), h)); },
        [](const Events& clean) { return std::vector<FailingStep>{ReadStep(clean, 0, {}, kFailed)}; }, kDone);
}

TEST_F(SettingsTasksTest, EveryFaultAtEveryPositionOfAWrite) {
  Sweep([this](RecordingHost& h) { return Code(WriteSettingsTask(Alt(), h)); },
        [](const Events& clean) {
          return std::vector<FailingStep>{
              OneStep(clean, "ClearMemory", "status: Clearing data... please wait a few seconds.",
                      {"idle", "status: Failed to clear data."}, kFailed),
              OneStep(clean, "WriteSettings", "status: Writing settings...",
                      {"retry", "status: Failed to write settings."}, kFailed),
              // The settings are on the device: a read back that fails does not undo that.
              ReadStep(clean, 0, {"idle"}, kDone)};
        },
        kDone);
}

TEST_F(SettingsTasksTest, EveryFaultAtEveryPositionOfAReset) {
  Sweep([this](RecordingHost& h) { return Code(ResetSettingsTask(Alt(), h)); },
        [](const Events& clean) {
          return std::vector<FailingStep>{
              OneStep(clean, "ClearMemory", "status: Clearing data... please wait a few seconds.",
                      {"idle", "status: Failed to clear data."}, kFailed),
              OneStep(clean, "ResetSettings", "status: Resetting...", {"status: Failed to reset settings.", "idle"},
                      kFailed),
              ReadStep(clean, 0, {"idle", "redraw"}, kDone)};
        },
        kDone);
}

TEST_F(SettingsTasksTest, EveryFaultAtEveryPositionOfACalibration) {
  Sweep([this](RecordingHost& h) { return Code(CalibrateTask(Alt(), h, 1330)); },
        [](const Events& clean) {
          const size_t calibrating = After(clean, "status: Calibrating...");
          const Events failed = {"status: Failed to calibrate.", "idle", "redraw"};
          Events write = {"retry", "status: Failed to write settings."};
          write.insert(write.end(), failed.begin(), failed.end());
          return std::vector<FailingStep>{
              OneStep(clean, "ClearMemory", "status: Clearing data... please wait a few seconds.",
                      {"idle", "status: Failed to clear data."}, kFailed),
              {"ReadSettings into the copy", calibrating, calibrating, {"status: Failed to read settings.", "idle"}, kFailed},
              {"ReadAltitude", calibrating, calibrating, {"status: Failed.", "idle"}, kFailed},
              OneStep(clean, "WriteSettings", "status: Writing settings...", write, kFailed),
              ReadStep(clean, 0, {"idle", "status: Calibration complete.", "idle", "redraw"}, kDone)};
        },
        kDone);
}

}  // namespace
