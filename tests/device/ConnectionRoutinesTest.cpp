#include <cwctype>
#include <future>
#include <thread>

#include "device/ConnectionRoutines.h"
#include "resources/resource.h"
#include "tests/TestSupport.h"

namespace {

using Lines = std::vector<std::wstring>;

struct RecordingSink : StatusSink {
  void AppendStatus(const std::wstring& line) override { lines.push_back(line); }
  Lines lines;
};

const wchar_t kPleaseEnsure[] =
    L"Please ensure it is not being used by another application.\r\n"
    L"Removing the device and re-attaching it should correct this.\r\n";

struct RoutineCase {
  const char* scenario;  // "-" = nothing on the bus
  Lines lines;
  ConnectResult result;
  bool open;
  bool bootloaderMode;
  uint16_t productAfterwards;  // on the bus once the device had time to change mode
};

class ConnectionRoutinesTest : public SimTest {
 protected:
  // Arrivals and removals that the bus tells while the virtual time passes.
  void WatchBus() {
    host->SetDeviceChangeSink([this](uint32_t event, const DeviceNotification& n) {
      std::lock_guard<std::mutex> lock(noteMutex);
      notes.emplace_back(event, n);
    });
  }
  // In steps, since the device schedules its next stage when the last one runs.
  void PassTime(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 100) host->Sleep(100);
  }
  uint16_t ProductOnBus(int slot = 0) {
    std::lock_guard<std::recursive_mutex> lock(Bus().Mutex());
    return Bus().Slot(slot).present ? Bus().Slot(slot).attributes.productId : 0;
  }
  void EmptyBus() {
    std::lock_guard<std::recursive_mutex> lock(Bus().Mutex());
    for (size_t i = 0; i < Bus().SlotCount(); ++i) Bus().Unplug(static_cast<int>(i));
    Bus().Pump();
  }

  void RunCases(const std::vector<RoutineCase>& cases, bool bootloaderRoutine) {
    for (const RoutineCase& c : cases) {
      SCOPED_TRACE(c.scenario);
      UseScenario(c.scenario == std::string("-") ? "" : c.scenario);
      if (c.scenario == std::string("-")) EmptyBus();
      CAltimeter altimeter;
      RecordingSink sink;
      ConnectResult result =
          bootloaderRoutine ? ConnectBootloaderDevice(altimeter, sink) : ConnectNormalDevice(altimeter, sink);
      EXPECT_EQ(result, c.result);
      EXPECT_EQ(sink.lines, c.lines);
      EXPECT_EQ(altimeter.IsOpen(), c.open);
      EXPECT_EQ(altimeter.bootloaderMode.load(), c.bootloaderMode);
      EXPECT_EQ(ConnectionIconId(altimeter), c.open ? IDI_CONNECTED : IDI_NOT_CONNECTED);
      altimeter.Close();
      PassTime(5000);
      EXPECT_EQ(ProductOnBus(), c.productAfterwards);
    }
  }

  std::mutex noteMutex;
  std::vector<std::pair<uint32_t, DeviceNotification>> notes;
};

TEST_F(ConnectionRoutinesTest, NormalRoutineLinesForEachOutcome) {
  RunCases(
           {
               {"", {L"Device Connected.\r\n", L"Current device firmware version: 4.05\r\n"}, Connected, true, false, 2},
               {"version=0x0310",
                {L"Device found, but has incompatible firmware version.\r\n",
                 L"Current device firmware version: 3.10\r\n", L"Required device firmware version: 4.00\r\n"},
                IncompatibleVersion, false, false, 2},
               {"held", {std::wstring(L"Device found. Unable to connect to device.\r\n") + kPleaseEnsure}, CannotOpen,
                false, false, 2},
               // A compatible bootloader is told to leave and comes back as the application firmware.
               {"bootloader", {L"Device found, but is in bootloader mode.\r\n"}, NotFound, false, false, 2},
               {"bootloader,bootloader-version=0x0300", {L"Device not found.\r\n"}, NotFound, false, false, 1},
               {"-", {L"Device not found.\r\n"}, NotFound, false, false, 0},
           },
           false);
}

TEST_F(ConnectionRoutinesTest, BootloaderRoutineLinesForEachOutcome) {
  const Lines notInBootloader = {L"Device found, but is not in bootloader mode.\r\n"};
  RunCases(
           {
               {"bootloader",
                {L"Device connected in bootloader mode.\r\n", L"Device bootloader version: 4.00\r\n"},
                Connected, true, true, 1},
               {"bootloader,bootloader-version=0x0300",
                {L"Device found in bootloader mode, but has incompatible bootloader version.\r\n",
                 L"Current device bootloader version: 3.00\r\n", L"Required device bootloader version: 4.00\r\n"},
                IncompatibleVersion, false, false, 1},
               {"bootloader,held",
                {std::wstring(L"Device found in bootloader mode. Unable to connect to device.\r\n") + kPleaseEnsure},
                CannotOpen, false, false, 1},
               // The firmware is sent into the bootloader; the channel stays open until its removal.
               {"", notInBootloader, NotFound, true, false, 1},
               // An incompatible firmware is opened for the request, then closed again.
               {"version=0x0310", notInBootloader, NotFound, false, false, 1},
               {"-", {L"Device not found.\r\n"}, NotFound, false, false, 0},
           },
           true);
}

TEST_F(ConnectionRoutinesTest, StaleBootloaderModeWithIncompatibleFirmwareIsClearedQuietly) {
  UseScenario("version=0x0310");
  Alt().bootloaderMode = true;
  Alt().cancelRequested = true;
  RecordingSink sink;
  EXPECT_EQ(ConnectBootloaderDevice(Alt(), sink), NotFound);
  EXPECT_TRUE(sink.lines.empty());
  EXPECT_FALSE(Alt().IsOpen());
  EXPECT_FALSE(Alt().bootloaderMode);
  EXPECT_FALSE(Alt().cancelRequested);
  PassTime(5000);
  EXPECT_EQ(ProductOnBus(), 2);  // nothing was sent
}

// The arrival that the routine waits for reconnects, in both directions.
TEST_F(ConnectionRoutinesTest, DeviceSentToTheOtherModeReconnectsOnArrival) {
  for (bool toNormal : {true, false}) {
    SCOPED_TRACE(toNormal ? "bootloader leaves" : "firmware enters the bootloader");
    UseScenario(toNormal ? "bootloader" : "");
    notes.clear();
    WatchBus();
    CAltimeter altimeter;
    RecordingSink sink;
    auto routine = [&] {
      toNormal ? ConnectNormalDevice(altimeter, sink) : ConnectBootloaderDevice(altimeter, sink);
    };
    ConnectionGuard guard(altimeter, routine);
    routine();
    PassTime(5000);
    std::vector<std::pair<uint32_t, DeviceNotification>> told;
    {
      std::lock_guard<std::mutex> lock(noteMutex);
      told = notes;
    }
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[0].first, kDeviceRemoveComplete);
    EXPECT_EQ(told[1].first, kDeviceArrival);
    sink.lines.clear();
    for (const auto& [event, note] : told) OnDeviceChange(event, note, altimeter, sink, guard);
    const Lines expected =
        toNormal ? Lines{L"Device disconnected.\r\n", L"Device Connected.\r\n",
                         L"Current device firmware version: 4.05\r\n"}
                 : Lines{L"Device disconnected.\r\n", L"Device connected in bootloader mode.\r\n",
                         L"Device bootloader version: 4.00\r\n"};
    EXPECT_EQ(sink.lines, expected);
    EXPECT_TRUE(altimeter.IsOpen());
    EXPECT_EQ(altimeter.bootloaderMode.load(), !toNormal);
    host->SetDeviceChangeSink({});
  }
}

// Another device's removal or arrival (a mouse, a headset) leaves the
// connected flight computer alone: no reconnect, no line, the same channel.
// Once the connected one has gone, any arrival may be it coming back.
TEST_F(ConnectionRoutinesTest, AnotherDevicesChangesLeaveTheConnectedOneAndAnArrivalAfterItsRemovalReconnects) {
  RecordingSink sink;
  int connects = 0;
  ConnectionGuard guard(Alt(), [&] {
    ++connects;
    ConnectNormalDevice(Alt(), sink);
  });
  ASSERT_EQ(ConnectNormalDevice(Alt(), sink), Connected);
  sink.lines.clear();
  const HidHandle before = Alt().readHandle;
  TraceCapture trace;

  DeviceNotification other{kDevTypDeviceInterface, SimDevicePath(7, 2)};
  OnDeviceChange(kDeviceRemoveComplete, other, Alt(), sink, guard);
  OnDeviceChange(kDeviceRemoveComplete, DeviceNotification{2, Alt().devicePath}, Alt(), sink, guard);
  OnDeviceChange(0x0007, other, Alt(), sink, guard);  // DBT_DEVNODES_CHANGED
  OnDeviceChange(kDeviceArrival, other, Alt(), sink, guard);
  EXPECT_TRUE(sink.lines.empty());
  EXPECT_EQ(connects, 0);
  EXPECT_TRUE(Alt().IsOpen());
  EXPECT_EQ(Alt().readHandle, before);
  EXPECT_TRUE(trace.Has("Another device arrived; the connected one stays."));

  DeviceNotification ours{kDevTypDeviceInterface, Alt().devicePath};
  for (wchar_t& c : ours.name) c = static_cast<wchar_t>(std::towupper(c));  // Windows may change the case
  OnDeviceChange(kDeviceRemoveComplete, ours, Alt(), sink, guard);
  EXPECT_EQ(sink.lines, Lines{L"Device disconnected.\r\n"});
  EXPECT_FALSE(Alt().IsOpen());

  sink.lines.clear();
  OnDeviceChange(kDeviceArrival, other, Alt(), sink, guard);
  EXPECT_EQ(connects, 1);
  EXPECT_EQ(sink.lines, (Lines{L"Device Connected.\r\n", L"Current device firmware version: 4.05\r\n"}));
  EXPECT_TRUE(Alt().IsOpen());
  int changes = 0;
  for (const std::string& line : trace.Lines()) changes += line == "Device Change.";
  EXPECT_EQ(changes, 6);
}

// A guard with counters in place of a dialog's routines.
struct GuardFixture {
  explicit GuardFixture(CAltimeter& a)
      : guard(
            a, [this] { ++connects; if (onConnect) onConnect(); }, [this] { ++refreshes; }, [this] { ++wakes; }) {}
  int connects = 0;
  int refreshes = 0;
  int wakes = 0;
  std::function<void()> onConnect;
  ConnectionGuard guard;
};

TEST_F(ConnectionRoutinesTest, GuardRunsAtOnceWhenIdleAndOnceOnTheDialogThreadAfterTheWorker) {
  GuardFixture f(Alt());
  EXPECT_TRUE(f.guard.OnArrival());
  EXPECT_EQ(f.connects, 1);
  EXPECT_EQ(f.refreshes, 0);  // the dialog refreshes after an immediate run itself

  ASSERT_TRUE(f.guard.WorkerStarting());
  EXPECT_FALSE(f.guard.WorkerStarting());  // one worker at a time
  EXPECT_FALSE(f.guard.OnArrival());
  EXPECT_FALSE(f.guard.OnArrival());
  EXPECT_FALSE(f.guard.OnRemoval());
  f.guard.RunPending();  // the worker still has the channel
  EXPECT_EQ(f.connects, 1);
  f.guard.WorkerEnded();
  EXPECT_EQ(f.connects, 1);  // the ending worker only wakes the dialog thread
  EXPECT_EQ(f.wakes, 1);
  f.guard.RunPending();
  EXPECT_EQ(f.connects, 2);  // both arrivals and the removal: one connect
  EXPECT_EQ(f.refreshes, 1);
  f.guard.RunPending();
  ASSERT_TRUE(f.guard.WorkerStarting());
  f.guard.WorkerEnded();
  EXPECT_EQ(f.connects, 2);  // nothing waited
  EXPECT_EQ(f.wakes, 2);     // the dialog thread refreshes its look after every worker
}

TEST_F(ConnectionRoutinesTest, GuardDefersTheCloseOfARemovedDeviceUntilTheWorkerEnds) {
  ASSERT_EQ(Alt().Connect(nullptr, false), Connected);
  GuardFixture f(Alt());
  ASSERT_TRUE(f.guard.WorkerStarting());
  EXPECT_FALSE(f.guard.OnRemoval());
  EXPECT_TRUE(Alt().IsOpen());
  f.guard.WorkerEnded();
  f.guard.RunPending();
  EXPECT_FALSE(Alt().IsOpen());
  EXPECT_EQ(f.connects, 0);
  EXPECT_EQ(f.refreshes, 1);
}

// A button pressed while a connect routine pumps messages (a message box inside
// it) must not start a worker on the channel the routine is using; an event
// told meanwhile runs after the routine, on the same thread.
TEST_F(ConnectionRoutinesTest, NoWorkerStartsWhileAConnectRoutineRuns) {
  GuardFixture f(Alt());
  bool startedInside = true;
  f.onConnect = [&] {
    if (f.connects == 1) {
      startedInside = f.guard.WorkerStarting();
      EXPECT_TRUE(f.guard.RoutineRunning());
      EXPECT_FALSE(f.guard.OnArrival());
    }
  };
  EXPECT_TRUE(f.guard.OnArrival());
  EXPECT_FALSE(startedInside);
  EXPECT_FALSE(f.guard.WorkerRunning());
  EXPECT_EQ(f.connects, 2);
  EXPECT_TRUE(f.guard.WorkerStarting());
}

TEST_F(ConnectionRoutinesTest, StoppedGuardRunsNothing) {
  GuardFixture f(Alt());
  ASSERT_TRUE(f.guard.WorkerStarting());
  f.guard.OnArrival();
  f.guard.Stop();
  f.guard.WorkerEnded();
  f.guard.RunPending();
  EXPECT_FALSE(f.guard.OnArrival());
  EXPECT_FALSE(f.guard.WorkerStarting());
  EXPECT_EQ(f.connects, 0);
  EXPECT_EQ(f.wakes, 0);
}

// A real worker thread holds the channel; the arrival's reconnect waits for it
// and then runs on the dialog's thread (here the test's), never on the worker's.
TEST_F(ConnectionRoutinesTest, ArrivalDuringAWorkerReconnectsOnTheDialogThreadAfterIt) {
  RecordingSink sink;
  std::mutex sinkMutex;
  struct LockedSink : StatusSink {
    LockedSink(RecordingSink& s, std::mutex& m) : sink(s), mutex(m) {}
    void AppendStatus(const std::wstring& line) override {
      std::lock_guard<std::mutex> lock(mutex);
      sink.AppendStatus(line);
    }
    RecordingSink& sink;
    std::mutex& mutex;
  } locked(sink, sinkMutex);
  const std::thread::id dialogThread = std::this_thread::get_id();
  std::vector<std::thread::id> connectThreads;
  std::promise<void> woken;
  ConnectionGuard guard(
      Alt(),
      [&] {
        connectThreads.push_back(std::this_thread::get_id());
        ConnectNormalDevice(Alt(), locked);
      },
      {}, [&] { woken.set_value(); });
  ASSERT_EQ(ConnectNormalDevice(Alt(), locked), Connected);
  const HidHandle before = Alt().readHandle;

  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<HidHandle> handleSeen;
  std::future<HidHandle> seen = handleSeen.get_future();
  ASSERT_TRUE(guard.WorkerStarting());
  std::thread worker([&] {
    released.wait();
    handleSeen.set_value(Alt().readHandle);
    EXPECT_EQ(Alt().ReadSettings(), Ok);
    guard.WorkerEnded();
  });
  // The device leaves and comes back while the worker still has the channel.
  OnDeviceChange(kDeviceRemoveComplete, DeviceNotification{kDevTypDeviceInterface, Alt().devicePath}, Alt(), locked,
                 guard);
  OnDeviceChange(kDeviceArrival, DeviceNotification{kDevTypDeviceInterface, L"other"}, Alt(), locked, guard);
  release.set_value();
  EXPECT_EQ(seen.get(), before);
  woken.get_future().wait();
  worker.join();
  EXPECT_TRUE(connectThreads.empty());
  guard.RunPending();
  ASSERT_EQ(connectThreads.size(), 1u);
  EXPECT_EQ(connectThreads[0], dialogThread);
  EXPECT_TRUE(Alt().IsOpen());
  EXPECT_NE(Alt().readHandle, before);
  EXPECT_EQ(sink.lines.size(), 5u);  // the connect's two, the removal's, the reconnect's two
}

}  // namespace
