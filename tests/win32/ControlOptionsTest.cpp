// The "Control Options" dialog from its template in the program's resources,
// on simulated devices: a bench device with fixed readings for the short
// tasks, the simulated flight computer for the launch emulation.
#include <windows.h>
#include <commctrl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "settings/ControlOptionsWindow.h"
#include "simulator/SimHost.h"
#include "tests/TestSupport.h"
#include "tests/simulator/TestFlight.h"
#include "tests/win32/DialogDriver.h"

namespace {

const int kActionButtons[] = {IDC_CO_EMULATE_LAUNCH, IDC_CO_READ_PRESSURE, IDC_CO_READ_VOLTAGE, IDC_CO_FIRE_LINES};

const wchar_t kConnected[] = L"Device Connected.\r\nCurrent device firmware version: 4.05\r\n";
const wchar_t kNotFound[] = L"Altimeter not found. Make sure it is properly connected to the PC.\r\n";

// The dialog, driven: each step runs once no worker runs, unless made with During.
class CDrivenControlOptions : public DialogDriver<CControlOptionsWindow, CDrivenControlOptions> {
 public:
  using DialogDriver::DialogDriver;
  std::wstring StatusLines() const { return statusText.Text(); }
};

// A flight computer on the bench with fixed readings; the commands with the
// codes in failing answer wrongly.
class BenchDevice : public SimDeviceModel {
 public:
  bool OnOutputReport(SimBus& bus, int slot, const std::vector<uint8_t>& report) override {
    const uint8_t code = report.at(3);
    codes.push_back(code);
    const bool fail = std::find(failing.begin(), failing.end(), code) != failing.end();
    auto reply = [&](uint16_t value, uint8_t replyCode) {
      bus.QueueReport(slot, {0, static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8), replyCode}, 0);
    };
    switch (code) {
      case 8:  // failing: the stream ends early, after four bytes
        for (size_t i = 0; i < settings.size() && !(fail && i == 4); ++i) reply(settings[i], 0);
        reply(0, 5);
        break;
      case 3:
        if (!fail) {
          reply(static_cast<uint16_t>(static_cast<uint32_t>(altitudeTenths) >> 16), 0);
          reply(static_cast<uint16_t>(altitudeTenths & 0xFFFF), 0);
        }
        reply(0, 5);
        break;
      case 7:
        if (!fail) reply(voltageTenths, 0);
        reply(0, 5);
        break;
      case 10:
        reply(0, fail ? 0 : 5);
        break;
      default:
        break;
    }
    return true;
  }

  std::vector<int> failing;
  int32_t altitudeTenths = 2876;
  uint16_t voltageTenths = 120;
  SettingsPacket settings = kDefaultSettingsPacket;
  std::vector<uint8_t> codes;  // every command code written, in order
};

class ControlOptions : public ::testing::Test {
 protected:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
    ASSERT_TRUE(RegisterDialogClass(GetModuleHandleW(nullptr)));
    Altimeter();  // made once, before any test watches the trace
    oldSeam_ = SetMessageSeam([this](HWND, UINT id, const std::wstring&, UINT style) {
      messages.emplace_back(id, style);
      return IDOK;
    });
  }
  void TearDown() override {
    SetMessageSeam(oldSeam_);
    InstallHidHost(nullptr);
    Gdiplus::GdiplusShutdown(token_);
  }

  // The bench device alone on a bus on the virtual clock (none: an empty bus).
  void UseBench(std::shared_ptr<BenchDevice> device) {
    auto bus = std::make_shared<SimBus>(false);
    bus->replyLatencyUs = 0;
    auto host = std::make_shared<SimHost>(bus);
    if (device) bus->Plug(bus->AddSlot(SimDevicePath(1, 2), 2, 0x0405, device));
    bus->Pump();
    InstallHidHost(host);
  }
  // The simulated flight computer of a scenario.
  std::shared_ptr<SimHost> UseSimulator(const std::string& scenario) {
    std::string error;
    auto host = MakeSimHost(scenario, error);
    EXPECT_TRUE(host) << error;
    if (host) {
      host->Bus().recordWrites = true;
      InstallHidHost(host);
    }
    return host;
  }

  std::vector<std::pair<UINT, UINT>> messages;  // (string id, style) of each message box

 private:
  ULONG_PTR token_ = 0;
  MessageSeam oldSeam_;
};

std::vector<std::wstring> Lines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find(L"\r\n", at);
    if (end == std::wstring::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

void ExpectButtons(CDrivenControlOptions& d, bool emulate, bool others) {
  EXPECT_EQ(d.Enabled(IDC_CO_EMULATE_LAUNCH), emulate);
  EXPECT_EQ(d.Enabled(IDC_CO_READ_PRESSURE), others);
  EXPECT_EQ(d.Enabled(IDC_CO_READ_VOLTAGE), others);
  EXPECT_EQ(d.Enabled(IDC_CO_FIRE_LINES), others);
  EXPECT_TRUE(d.Enabled(IDC_CLOSE));
}

// Each short task on the bench device, with its lines and its failures. The
// program's settings record comes out of "Read Pressure" byte for byte as it
// went in, whatever the device's settings read did to it.
TEST_F(ControlOptions, EachTaskShowsItsReadingOrItsFailure) {
  struct Case {
    const char* name;
    std::vector<int> failing;  // the command codes that answer wrongly
    std::vector<int> buttons;  // pressed in turn
    const wchar_t* lines;
  };
  const std::vector<int> all = {IDC_CO_READ_PRESSURE, IDC_CO_READ_VOLTAGE, IDC_CO_FIRE_LINES};
  const Case cases[] = {
      {"answering", {}, all,
       L"Current MSL Altitude: 287.6 m / 943.57 ft. \r\n"
       L"Current Voltage: 12 Volts\r\n"
       L"Firing both lines for 2 seconds...\r\nDone.\r\n"},
      {"failing each command", {3, 7, 10}, all,
       L"Failed.\r\n"
       L"Failed.\r\n"
       L"Firing both lines for 2 seconds...\r\nFailed.\r\n"},
      {"failing the settings read", {8}, {IDC_CO_READ_PRESSURE}, L"Failed to read settings.\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto device = std::make_shared<BenchDevice>();
    device->failing = c.failing;
    UseBench(device);
    CAltimeter altimeter;
    // A record unlike the device's, down to the padding between its fields.
    SettingsRecord& record = altimeter.settings;
    std::memset(static_cast<void*>(&record), 0x5A, sizeof record);
    record.packet.fill(0x11);
    record.ParsePacket();
    unsigned char before[sizeof(SettingsRecord)];
    std::memcpy(before, &record, sizeof before);

    CDrivenControlOptions dialog(altimeter);
    for (int button : c.buttons) {
      dialog.steps.push_back([button](CDrivenControlOptions& d) {
        ExpectButtons(d, false, true);  // no data set decoded: no emulation
        d.Press(button);
      });
    }
    dialog.steps.push_back([](CDrivenControlOptions& d) { ExpectButtons(d, false, true); });
    dialog.Run();
    EXPECT_EQ(dialog.boxAtEnd, std::wstring(kConnected) + c.lines);
    EXPECT_EQ(std::memcmp(before, &record, sizeof before), 0) << "the settings record changed";
    const bool fired = std::find(c.buttons.begin(), c.buttons.end(), IDC_CO_FIRE_LINES) != c.buttons.end();
    EXPECT_EQ(std::count(device->codes.begin(), device->codes.end(), 10), fired ? 1 : 0);
  }
  EXPECT_TRUE(messages.empty());
}

// The user presses "Read Battery Voltage" the moment "Read Pressure"'s worker
// enables it, while that worker still runs its last steps: the press is not
// lost, it runs once the worker has ended.
LRESULT CALLBACK PressWhenEnabled(HWND button, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
  auto* d = reinterpret_cast<CDrivenControlOptions*>(data);
  if (message == WM_ENABLE && wParam && d->WorkerRunning()) {
    RemoveWindowSubclass(button, &PressWhenEnabled, 0);
    const LRESULT result = DefSubclassProc(button, message, wParam, lParam);
    SendMessageW(d->hwnd, WM_COMMAND, MAKEWPARAM(IDC_CO_READ_VOLTAGE, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    return result;
  }
  return DefSubclassProc(button, message, wParam, lParam);
}

TEST_F(ControlOptions, APressOfAButtonTheMomentItIsEnabledRunsOnceTheWorkerHasEnded) {
  UseBench(std::make_shared<BenchDevice>());
  CAltimeter altimeter;
  CDrivenControlOptions dialog(altimeter);
  dialog.steps.push_back([](CDrivenControlOptions& d) {
    SetWindowSubclass(GetDlgItem(d.hwnd, IDC_CO_READ_VOLTAGE), &PressWhenEnabled, 0, reinterpret_cast<DWORD_PTR>(&d));
    d.Press(IDC_CO_READ_PRESSURE);
  });
  dialog.steps.push_back([](CDrivenControlOptions& d) { return d.Idle() && d.Box().find(L"Volts") != std::wstring::npos; });
  dialog.Run();
  EXPECT_EQ(dialog.boxAtEnd,
            std::wstring(kConnected) + L"Current MSL Altitude: 287.6 m / 943.57 ft. \r\nCurrent Voltage: 12 Volts\r\n");
}

TEST_F(ControlOptions, WithoutADeviceTheButtonsAreOffAndEachTaskSaysSo) {
  UseBench(nullptr);
  CAltimeter altimeter;
  altimeter.flight.altitudeMsl = MakeTestFlight().msl;
  CDrivenControlOptions dialog(altimeter);
  dialog.steps.push_back([](CDrivenControlOptions& d) { ExpectButtons(d, false, false); });
  // Pressed anyway, as a second click might arrive.
  for (int button : kActionButtons) dialog.steps.push_back([button](CDrivenControlOptions& d) { d.Press(button); });
  dialog.Run();
  std::wstring expected = L"Device not found.\r\n";
  for (int i = 0; i < 4; ++i) expected += kNotFound;
  EXPECT_EQ(dialog.boxAtEnd, expected);
  // The box of string 113 comes before the emulation's worker, device or not.
  EXPECT_EQ(messages, (std::vector<std::pair<UINT, UINT>>{{IDS_CONNECT_BATTERY, MB_OK | MB_ICONINFORMATION}}));
}

// A flight emulated on the simulated flight computer, on its virtual clock:
// the box of string 113 first, then the device's events as they come.
TEST_F(ControlOptions, AFullEmulationShowsTheDevicesEventsInOrder) {
  auto host = UseSimulator("clock=virtual,latency=0");
  ASSERT_TRUE(host);
  CAltimeter altimeter;
  altimeter.flight.altitudeMsl = MakeTestFlight().msl;
  std::wstring boxAtMessage;
  SetMessageSeam([&](HWND owner, UINT id, const std::wstring&, UINT style) {
    messages.emplace_back(id, style);
    wchar_t text[4096] = {};
    GetDlgItemTextW(owner, IDC_STATUS_BOX, text, 4096);
    boxAtMessage = text;
    return IDOK;
  });
  CDrivenControlOptions dialog(altimeter);
  dialog.steps = {
      [](CDrivenControlOptions& d) {
        ExpectButtons(d, true, true);
        d.Press(IDC_CO_EMULATE_LAUNCH);
      },
      [](CDrivenControlOptions& d) { ExpectButtons(d, true, true); },
  };
  dialog.Run();
  EXPECT_EQ(messages, (std::vector<std::pair<UINT, UINT>>{{IDS_CONNECT_BATTERY, MB_OK | MB_ICONINFORMATION}}));
  EXPECT_EQ(boxAtMessage, kConnected);

  std::vector<std::wstring> lines = Lines(dialog.boxAtEnd);
  ASSERT_GT(lines.size(), 4u);
  EXPECT_EQ(lines[2], L"Emulating...");
  EXPECT_EQ(lines.back(), L"Done.");
  // One "Launch Time" line a second of flight, counted on; the events between them.
  std::vector<std::wstring> events;
  int seconds = 0;
  for (size_t i = 3; i + 1 < lines.size(); ++i) {
    if (lines[i].rfind(L"Launch Time (s): ", 0) == 0)
      EXPECT_EQ(lines[i], L"Launch Time (s): " + std::to_wstring(seconds++));
    else
      events.push_back(lines[i]);
  }
  EXPECT_GT(seconds, 11);  // past the ground phase of 113 requests
  EXPECT_EQ(events, (std::vector<std::wstring>{L"Launch detected.", L"Apogee detected.", L"Line A fired.",
                                               L"Line B fired.", L"Device indicates end of launch."}));
  // The emulation ended with the device reset.
  ASSERT_FALSE(host->Bus().written.empty());
  EXPECT_EQ(host->Bus().written.back().second.at(3), 1);
}

// The device leaves in the middle of an emulation: the lines so far, then
// "Failed."; its removal is told once; the dialog goes on without it.
TEST_F(ControlOptions, ADeviceRemovedDuringAnEmulationEndsItWithFailed) {
  auto host = UseSimulator("clock=virtual,latency=0");
  ASSERT_TRUE(host);
  // It leaves instead of sending its 26th sample request.
  host->devices[0]->faults.removeAt = host->devices[0]->repliesSent + 25;
  CAltimeter altimeter;
  altimeter.flight.altitudeMsl = MakeTestFlight().msl;
  CDrivenControlOptions dialog(altimeter);
  dialog.steps = {
      [](CDrivenControlOptions& d) { d.Press(IDC_CO_EMULATE_LAUNCH); },
      [](CDrivenControlOptions& d) {
        ExpectButtons(d, false, false);
        d.Press(IDC_CO_READ_VOLTAGE);
      },
  };
  dialog.Run();
  std::vector<std::wstring> lines = Lines(dialog.boxAtEnd);
  ASSERT_EQ(lines.size(), 9u) << dialog.boxAtEnd;
  const std::vector<std::wstring> head = {L"Device Connected.", L"Current device firmware version: 4.05",
                                          L"Emulating...",      L"Launch Time (s): 0",
                                          L"Launch Time (s): 1", L"Launch Time (s): 2"};
  EXPECT_EQ(std::vector<std::wstring>(lines.begin(), lines.begin() + 6), head);
  // The removal is told on the dialog thread as the worker fails: either may come first.
  std::vector<std::wstring> ending(lines.begin() + 6, lines.begin() + 8);
  std::sort(ending.begin(), ending.end());
  EXPECT_EQ(ending, (std::vector<std::wstring>{L"Device disconnected.", L"Failed."}));
  EXPECT_EQ(lines[8], L"Altimeter not found. Make sure it is properly connected to the PC.");
  EXPECT_FALSE(altimeter.IsOpen());
}

// Closing while the device runs an emulation at its own pace (ten requests a
// second): the emulation stops at its next request with the device reset, the
// dialog ends within a few 100 ms waits, and a removal told meanwhile adds no
// line. Closed a second into the flight, or at once, while the emulation is
// still starting and clears the stop flag as it does.
TEST_F(ControlOptions, ClosingDuringAnEmulationEndsItWithTheDeviceReset) {
  for (bool atOnce : {false, true}) {
    SCOPED_TRACE(atOnce ? "closed at once" : "closed a second in");
    auto host = UseSimulator("");
    ASSERT_TRUE(host);
    CAltimeter altimeter;
    altimeter.flight.altitudeMsl = MakeTestFlight().msl;
    TraceCapture trace;
    INT_PTR removalAnswer = 0;
    auto closeAndRemove = [&](CDrivenControlOptions& d) {
      SendMessageW(d.hwnd, WM_CLOSE, 0, 0);
      std::vector<unsigned char> record = MakeDeviceBroadcast({kDevTypDeviceInterface, SimDevicePath(1, 2)});
      // Straight to the handler: its answer is not SendMessage's for a dialog.
      removalAnswer =
          d.HandleMessage(d.hwnd, WM_DEVICECHANGE, kDeviceRemoveComplete, reinterpret_cast<LPARAM>(record.data()));
    };
    CDrivenControlOptions dialog(altimeter);
    dialog.steps.push_back([&](CDrivenControlOptions& d) {
      d.Press(IDC_CO_EMULATE_LAUNCH);
      if (atOnce) closeAndRemove(d);
    });
    if (!atOnce) {
      dialog.steps.push_back(CDrivenControlOptions::During([&](CDrivenControlOptions& d) {
        // A second into the flight's ground phase, with the worker busy.
        if (d.Box().find(L"Launch Time (s): 1\r\n") == std::wstring::npos) return false;
        ExpectButtons(d, false, false);
        closeAndRemove(d);
        return true;
      }));
    }
    dialog.Run();
    EXPECT_EQ(removalAnswer, 1);
    EXPECT_TRUE(trace.Has("User ended emulation."));
    const std::vector<std::string> traced = trace.Lines();
    const auto reposts = std::count(traced.begin(), traced.end(), "reposting close message...");
    EXPECT_LE(reposts, 5);
    EXPECT_FALSE(trace.Has("Device Change."));
    // The last report the device got is the reset, with no sample after the stop.
    const auto& written = host->Bus().written;
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written.back().second.at(3), 1);
    EXPECT_EQ(dialog.StatusLines().find(L"Device disconnected."), std::wstring::npos);
    EXPECT_EQ(dialog.boxAtEnd.substr(dialog.boxAtEnd.size() - 7), L"Done.\r\n");
    EXPECT_TRUE(altimeter.IsOpen());
  }
}

}  // namespace
