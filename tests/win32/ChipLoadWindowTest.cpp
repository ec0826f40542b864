// "Program Chip" from its template in the program's resources, on the
// simulated flight computer: buttons are clicked, message boxes answered
// through the seam, and the controls, the status box and the device's own
// settings store are read back.
#include <windows.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "resources/resource.h"
#include "settings/ChipLoadWindow.h"
#include "simulator/SimHost.h"
#include "tests/TestSupport.h"
#include "tests/win32/DialogDriver.h"

namespace {

const wchar_t kOpeningLines[] =
    L"Warning!\r\n"
    L"Writing settings or calibrating will clear the current data on the device!\r\n\r\n"
    L"Device Connected.\r\n"
    L"Current device firmware version: 4.05\r\n";
const wchar_t kReadLines[] =
    L"Attempting to connect to device.\r\n"
    L"Altimeter found! Reading settings...\r\n"
    L"Settings read successfully.\r\n";
const wchar_t kWriteLines[] =
    L"Attempting to connect to device.\r\n"
    L"Clearing data... please wait a few seconds.\r\n"
    L"Data cleared.\r\n"
    L"Writing settings...\r\n"
    L"Settings written successfully.\r\n";

constexpr int kActions[] = {IDC_PC_READ_SETTINGS, IDC_PC_WRITE_SETTINGS, IDC_PC_CALIBRATE, IDC_PC_RESET_SETTINGS};

SettingsPacket Sealed(SettingsPacket p) {
  uint16_t sum = 190;
  for (size_t i = 0; i < 20; ++i) sum = static_cast<uint16_t>(sum + p[i]);
  p[20] = static_cast<uint8_t>(sum & 0xFF);
  p[21] = static_cast<uint8_t>(sum >> 8);
  return p;
}

// Line A Time 5 s, Line B Altitude before apogee 420 m, delays 1 s and 3 s, on
// times 15 and 25, Mach inhibit 4 s, Imperial, 9 V, altitude offset 5 m.
const SettingsPacket kDevicePacket = Sealed({0x01, 0x3C, 0x00, 0x28, 0x00, 0x5A, 0x05, 0x00, 0x41, 0x32, 0x00,
                                             0xA4, 0x01, 0xFF, 0x00, 0x04, 0x0A, 0x1E, 0x0F, 0x19, 0, 0});

// A simulated flight computer whose barometer, when told, reads one fixed altitude.
class FixedAltitudeDevice : public SimDeviceModel {
 public:
  explicit FixedAltitudeDevice(std::shared_ptr<SimFlightComputer> device) : device_(std::move(device)) {}
  bool OnOutputReport(SimBus& bus, int slot, const std::vector<uint8_t>& report) override {
    if (fixedTenths < 0 || report.size() < 4 || report[3] != 3) return device_->OnOutputReport(bus, slot, report);
    const auto tenths = static_cast<uint32_t>(fixedTenths);
    device_->Reply(bus, slot, {0, static_cast<uint8_t>(tenths >> 16), static_cast<uint8_t>(tenths >> 24), 0});
    device_->Reply(bus, slot, {0, static_cast<uint8_t>(tenths), static_cast<uint8_t>(tenths >> 8), 0});
    device_->Reply(bus, slot, {0, 0, 0, 5});
    return true;
  }
  int32_t fixedTenths = -1;

 private:
  std::shared_ptr<SimFlightComputer> device_;
};

// Every message box asked for, answered from a queue (else Yes or OK).
struct MessageLog {
  std::mutex mutex;
  std::vector<std::pair<UINT, UINT>> asked;  // string id, style
  std::wstring lastText;
  std::deque<int> answers;
  std::vector<std::pair<UINT, UINT>> Asked() {
    std::lock_guard<std::mutex> lock(mutex);
    return asked;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex);
    asked.clear();
  }
};

// The dialog, driven: each step runs once no worker runs.
class CDrivenChipLoad : public DialogDriver<CChipLoadWindow, CDrivenChipLoad> {
 public:
  explicit CDrivenChipLoad(CAltimeter& device) : DialogDriver(device) {}
  using CChipLoadWindow::ShowSettings;
  void ShowSettings() { ShowSettings(Device().settings); }
  CAltimeter& Alt() { return Device(); }

  INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
    const INT_PTR result = DialogDriver::HandleMessage(window, message, wParam, lParam);
    if (message == WM_INITDIALOG) actionsAtOpen = Actions();
    return result;
  }

  std::vector<bool> Actions() const {
    std::vector<bool> states;
    for (int id : kActions) states.push_back(Enabled(id));
    return states;
  }
  std::wstring Status() const { return statusText.Text(); }
  HANDLE Icon() const { return DialogDriver::Icon(IDC_PC_STATUS_ICON); }
  // The status lines appended since mark.
  std::wstring Since(size_t mark) const { return Status().substr(mark); }

  std::vector<bool> actionsAtOpen;
};

// What the form shows, field by field.
struct Shown {
  int radioA, radioB;
  const wchar_t *aTime, *aAltitude, *aDelay, *aOnTime;
  const wchar_t *bTime, *bAltitude, *bDelay, *bOnTime;
  const wchar_t *inhibit, *battery;
  bool imperial;
  bool aTimeOn, aAltitudeOn, bTimeOn, bAltitudeOn;
};

const int kRadiosA[] = {IDC_PC_A_DISABLED,      IDC_PC_A_MODE_TIME,          IDC_PC_A_MODE_ALTITUDE,
                        IDC_PC_A_MODE_APOGEE,   IDC_PC_A_MODE_BEFORE_APOGEE, IDC_PC_A_MODE_PEAK_VELOCITY};
const int kRadiosB[] = {IDC_PC_B_DISABLED,      IDC_PC_B_MODE_TIME,          IDC_PC_B_MODE_ALTITUDE,
                        IDC_PC_B_MODE_APOGEE,   IDC_PC_B_MODE_BEFORE_APOGEE, IDC_PC_B_MODE_PEAK_VELOCITY};

void ExpectShown(const CDrivenChipLoad& d, const Shown& s) {
  for (int id : kRadiosA) EXPECT_EQ(d.Checked(id), id == s.radioA) << id;
  for (int id : kRadiosB) EXPECT_EQ(d.Checked(id), id == s.radioB) << id;
  const std::pair<int, const wchar_t*> texts[] = {
      {IDC_PC_A_TIME, s.aTime},       {IDC_PC_A_ALTITUDE, s.aAltitude}, {IDC_PC_A_DELAY, s.aDelay},
      {IDC_PC_A_ON_TIME, s.aOnTime},  {IDC_PC_B_TIME, s.bTime},         {IDC_PC_B_ALTITUDE, s.bAltitude},
      {IDC_PC_B_DELAY, s.bDelay},     {IDC_PC_B_ON_TIME, s.bOnTime},    {IDC_PC_MACH_INHIBIT, s.inhibit},
      {IDC_PC_MIN_BATTERY, s.battery},
  };
  for (const auto& [id, text] : texts) EXPECT_EQ(d.Text(id), text) << id;
  EXPECT_EQ(d.Checked(IDC_PC_IMPERIAL), s.imperial);
  EXPECT_EQ(d.Checked(IDC_PC_METRIC), !s.imperial);
  EXPECT_EQ(d.Enabled(IDC_PC_A_TIME), s.aTimeOn);
  EXPECT_EQ(d.Enabled(IDC_PC_A_ALTITUDE), s.aAltitudeOn);
  EXPECT_EQ(d.Enabled(IDC_PC_B_TIME), s.bTimeOn);
  EXPECT_EQ(d.Enabled(IDC_PC_B_ALTITUDE), s.bAltitudeOn);
}

const Shown kDeviceShown = {IDC_PC_A_MODE_TIME, IDC_PC_B_MODE_BEFORE_APOGEE, L"5", L"50", L"1", L"15", L"42", L"420",
                            L"3", L"25", L"4", L"9", true, true, false, false, true};
const Shown kDefaultsShown = {IDC_PC_A_MODE_APOGEE, IDC_PC_B_MODE_ALTITUDE, L"15", L"150", L"0", L"20", L"15", L"150",
                              L"0", L"20", L"2", L"8", false, false, false, false, true};

class ChipLoadWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
    ASSERT_TRUE(RegisterDialogClass(GetModuleHandleW(nullptr)));
    Altimeter();  // the program's own, made before any trace is watched

    bus_ = std::make_shared<SimBus>(false);
    device_ = std::make_shared<SimFlightComputer>(SimFlightComputer::Config{});
    model_ = std::make_shared<FixedAltitudeDevice>(device_);
    slot_ = bus_->AddSlot(SimDevicePath(1, 2), 2, 0x0405, model_);
    bus_->Plug(slot_);
    bus_->Pump();
    host_ = std::make_shared<SimHost>(bus_);
    host_->devices.push_back(device_);
    InstallHidHost(host_);
    SetStore(kDevicePacket);

    SetMessageSeam([this](HWND, UINT id, const std::wstring& text, UINT style) {
      std::lock_guard<std::mutex> lock(messages_.mutex);
      messages_.asked.emplace_back(id, style);
      messages_.lastText = text;
      if (!messages_.answers.empty()) {
        const int answer = messages_.answers.front();
        messages_.answers.pop_front();
        return answer;
      }
      if (answerDelayMs_) Sleep(answerDelayMs_);
      return (style & MB_YESNO) ? IDYES : IDOK;
    });
  }
  void TearDown() override {
    SetMessageSeam(nullptr);
    InstallHidHost(nullptr);
    Gdiplus::GdiplusShutdown(token_);
  }

  // Answers the trace lines of the run.
  std::vector<std::string> Run(CDrivenChipLoad& dialog) {
    TraceCapture trace;
    dialog.Run();
    return trace.Lines();
  }

  SettingsPacket Store() {
    std::lock_guard<std::recursive_mutex> lock(bus_->Mutex());
    SettingsPacket p;
    std::copy(device_->settingsStore.begin(), device_->settingsStore.end(), p.begin());
    return p;
  }
  void SetStore(const SettingsPacket& p) {
    std::lock_guard<std::recursive_mutex> lock(bus_->Mutex());
    std::copy(p.begin(), p.end(), device_->settingsStore.begin());
  }
  int Writes() {
    std::lock_guard<std::recursive_mutex> lock(bus_->Mutex());
    return device_->writesSeen;
  }
  bool FlashErased() {
    std::lock_guard<std::recursive_mutex> lock(bus_->Mutex());
    for (uint8_t b : device_->flash)
      if (b != 0xFF) return false;
    return true;
  }
  // The device stays silent from the reply that many after the next one on.
  void SilenceAfter(int replies) {
    std::lock_guard<std::recursive_mutex> lock(bus_->Mutex());
    device_->faults.noReplyAt = device_->repliesSent + replies;
  }

  ULONG_PTR token_ = 0;
  std::shared_ptr<SimBus> bus_;
  std::shared_ptr<SimFlightComputer> device_;
  std::shared_ptr<FixedAltitudeDevice> model_;
  std::shared_ptr<SimHost> host_;
  int slot_ = -1;
  MessageLog messages_;
  DWORD answerDelayMs_ = 0;  // the user takes this long over a box
};

// The read that opening starts, on a good packet and on one whose checksum is off.
TEST_F(ChipLoadWindow, OpeningConnectsReadsAndShowsTheDevicesSettings) {
  SettingsPacket badChecksum = kDevicePacket;
  badChecksum[20] = static_cast<uint8_t>(badChecksum[20] + 1);
  struct Case {
    SettingsPacket packet;
    std::wstring lines;
    Shown shown;
    int32_t offset;
  };
  const Case cases[] = {
      {kDevicePacket, std::wstring(kOpeningLines) + kReadLines, kDeviceShown, 5},
      {badChecksum,
       std::wstring(kOpeningLines) +
           L"Attempting to connect to device.\r\n"
           L"Altimeter found! Reading settings...\r\n"
           L"Checksum failed. The device settings are invalid.\r\n"
           L"Displaying default settings.\r\n",
       kDefaultsShown, 0},
  };
  for (const Case& c : cases) {
    SetStore(c.packet);
    CAltimeter altimeter;
    CDrivenChipLoad dialog(altimeter);
    dialog.steps = {[&](CDrivenChipLoad& d) {
      EXPECT_EQ(d.Status(), c.lines);
      ExpectShown(d, c.shown);
      EXPECT_EQ(d.Actions(), std::vector<bool>(4, true));
      return true;
    }};
    Run(dialog);
    // Busy from the connect until the read had ended.
    EXPECT_EQ(dialog.actionsAtOpen, std::vector<bool>(4, false));
    EXPECT_EQ(dialog.boxAtEnd, c.lines);
    EXPECT_EQ(altimeter.settings.altitudeOffset, c.offset);
    EXPECT_EQ(Store(), c.packet);  // the device keeps its packet until the next write
  }
  EXPECT_TRUE(messages_.Asked().empty());
}

TEST_F(ChipLoadWindow, EachRadioEnablesTheFieldItsModeUses) {
  CAltimeter altimeter;
  CDrivenChipLoad dialog(altimeter);
  dialog.steps = {[](CDrivenChipLoad& d) {
    struct Case {
      int radio, timeField, altitudeField;
      bool time, altitude;
    };
    const Case cases[] = {
        {IDC_PC_A_MODE_APOGEE, IDC_PC_A_TIME, IDC_PC_A_ALTITUDE, false, false},
        {IDC_PC_A_MODE_TIME, IDC_PC_A_TIME, IDC_PC_A_ALTITUDE, true, false},
        {IDC_PC_A_MODE_ALTITUDE, IDC_PC_A_TIME, IDC_PC_A_ALTITUDE, false, true},
        {IDC_PC_A_MODE_PEAK_VELOCITY, IDC_PC_A_TIME, IDC_PC_A_ALTITUDE, false, false},
        {IDC_PC_A_MODE_BEFORE_APOGEE, IDC_PC_A_TIME, IDC_PC_A_ALTITUDE, false, true},
        {IDC_PC_A_DISABLED, IDC_PC_A_TIME, IDC_PC_A_ALTITUDE, false, false},
        {IDC_PC_B_MODE_TIME, IDC_PC_B_TIME, IDC_PC_B_ALTITUDE, true, false},
        {IDC_PC_B_MODE_APOGEE, IDC_PC_B_TIME, IDC_PC_B_ALTITUDE, false, false},
        {IDC_PC_B_MODE_ALTITUDE, IDC_PC_B_TIME, IDC_PC_B_ALTITUDE, false, true},
        {IDC_PC_B_MODE_PEAK_VELOCITY, IDC_PC_B_TIME, IDC_PC_B_ALTITUDE, false, false},
        {IDC_PC_B_MODE_BEFORE_APOGEE, IDC_PC_B_TIME, IDC_PC_B_ALTITUDE, false, true},
        {IDC_PC_B_DISABLED, IDC_PC_B_TIME, IDC_PC_B_ALTITUDE, false, false},
    };
    for (const Case& c : cases) {
      d.Click(c.radio);
      EXPECT_TRUE(d.Checked(c.radio)) << c.radio;
      EXPECT_EQ(d.Enabled(c.timeField), c.time) << c.radio;
      EXPECT_EQ(d.Enabled(c.altitudeField), c.altitude) << c.radio;
    }
    d.Click(IDC_PC_IMPERIAL);
    return true;
  }};
  Run(dialog);
  EXPECT_EQ(messages_.Asked(), (std::vector<std::pair<UINT, UINT>>{{IDS_IMPERIAL_UNITS, MB_ICONWARNING | MB_OK}}));
}

// What the user types is exactly what the device then holds, and what the
// dialog shows when it is opened again.
TEST_F(ChipLoadWindow, WrittenSettingsReachTheDeviceExactlyAndReadBack) {
  CAltimeter altimeter;
  altimeter.packets.resize(3);
  altimeter.flight.altitudeMsl = {1.0, 2.0};
  CDrivenChipLoad dialog(altimeter);
  size_t mark = 0;
  dialog.steps = {
      [&](CDrivenChipLoad& d) {
        d.Click(IDC_PC_A_MODE_TIME);
        d.Type(IDC_PC_A_TIME, L"5");
        d.Type(IDC_PC_A_DELAY, L"2");
        d.Type(IDC_PC_A_ON_TIME, L"30");
        d.Click(IDC_PC_B_DISABLED);
        d.Type(IDC_PC_B_DELAY, L"4");
        d.Type(IDC_PC_B_ON_TIME, L"12");
        d.Type(IDC_PC_MACH_INHIBIT, L"21");
        d.Click(IDC_PC_METRIC);
        d.Type(IDC_PC_MIN_BATTERY, L"14");
        mark = d.Status().size();
        d.Click(IDC_PC_WRITE_SETTINGS);
        return true;
      },
      [&](CDrivenChipLoad& d) {
        EXPECT_EQ(d.Since(mark), std::wstring(kWriteLines) + kReadLines);
        EXPECT_EQ(d.Actions(), std::vector<bool>(4, true));
        return true;
      },
  };
  Run(dialog);
  // The question, then both warnings; the write went on after them.
  EXPECT_EQ(messages_.Asked(), (std::vector<std::pair<UINT, UINT>>{{IDS_WRITE_CLEARS_DATA, MB_YESNO | MB_ICONWARNING},
                                                                    {IDS_INHIBIT_LARGE, MB_ICONWARNING | MB_OK},
                                                                    {IDS_LINES_DISABLED, MB_ICONWARNING | MB_OK}}));
  // Mach 21 s, 14 V, offset 5 kept, Line A Time 5 s, Line B disabled keeping
  // its 420, Metric, delays 2 s and 4 s, on times 30 and 12.
  const SettingsPacket typed = Sealed({0x01, 0x3C, 0x00, 0xD2, 0x00, 0x8C, 0x05, 0x00, 0x01, 0x32, 0x00, 0xA4, 0x01,
                                       0x00, 0x00, 0x04, 0x14, 0x28, 0x1E, 0x0C, 0, 0});
  EXPECT_EQ(Store(), typed);
  EXPECT_EQ(altimeter.settings.packet, typed);
  EXPECT_EQ(altimeter.settings.minBattery, 140);
  EXPECT_TRUE(FlashErased());
  // The flights in memory stay: once the device is cleared they may exist nowhere else.
  EXPECT_FALSE(altimeter.packets.empty());
  EXPECT_FALSE(altimeter.flight.altitudeMsl.empty());

  // Opened again on a record that forgot them, the device's values come back.
  altimeter.settings.LoadDefaults();
  CDrivenChipLoad again(altimeter);
  again.steps = {[](CDrivenChipLoad& d) {
    ExpectShown(d, {IDC_PC_A_MODE_TIME, IDC_PC_B_DISABLED, L"5", L"50", L"2", L"30", L"42", L"420", L"4", L"12", L"21",
                    L"14", false, true, false, false, false});
    return true;
  }};
  Run(again);
}

// Closing while a write runs waits for it without cancelling it, and leaves the
// channel open.
TEST_F(ChipLoadWindow, ClosingDuringAWriteLetsItFinish) {
  CAltimeter altimeter;
  CDrivenChipLoad dialog(altimeter);
  dialog.steps = {[&](CDrivenChipLoad& d) {
    d.Type(IDC_PC_B_DELAY, L"7");
    answerDelayMs_ = 300;
    d.Click(IDC_PC_WRITE_SETTINGS);
    d.Click(IDC_CLOSE);
    return true;
  }};
  const std::vector<std::string> trace = Run(dialog);
  size_t reposts = 0;
  for (const std::string& line : trace) reposts += line == "Reposting close message...";
  EXPECT_GE(reposts, 2u);
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace.back(), "Thread has exited.");
  EXPECT_EQ(dialog.boxAtEnd.substr(dialog.boxAtEnd.size() - 29), L"Settings read successfully.\r\n");
  EXPECT_EQ(Store()[17], 70);
  EXPECT_FALSE(altimeter.cancelRequested);
  EXPECT_TRUE(altimeter.IsOpen());
}

// Every number reaches the device as typed or not at all: a refusal names the
// field, keeps what was typed and neither clears nor writes anything.
TEST_F(ChipLoadWindow, BadEntriesAreRefusedWithTheirMessageAndNothingIsWritten) {
  CAltimeter altimeter;
  CDrivenChipLoad dialog(altimeter);
  dialog.steps = {
      [&](CDrivenChipLoad& d) {
        struct Case {
          int button;
          int field;
          const wchar_t* text;
          UINT stringId;
        };
        const Case cases[] = {
            // One battery limit, 14 V, on every path, named by its message.
            {IDC_PC_WRITE_SETTINGS, IDC_PC_MIN_BATTERY, L"15", IDS_MIN_BATTERY_RANGE},
            {IDC_PC_CALIBRATE, IDC_PC_MIN_BATTERY, L"15", IDS_MIN_BATTERY_RANGE},
            {IDC_PC_WRITE_SETTINGS, IDC_PC_MIN_BATTERY, L"", IDS_MIN_BATTERY_RANGE},
            {IDC_PC_WRITE_SETTINGS, IDC_PC_A_TIME, L"7000", IDS_LINE_A_TIME_RANGE},
            {IDC_PC_WRITE_SETTINGS, IDC_PC_A_TIME, L"", IDS_LINE_A_TIME_RANGE},
            {IDC_PC_WRITE_SETTINGS, IDC_PC_A_DELAY, L"26", IDS_LINE_A_DELAY_RANGE},
            {IDC_PC_WRITE_SETTINGS, IDC_PC_A_ON_TIME, L"300", IDS_LINE_A_ON_TIME_RANGE},
            {IDC_PC_WRITE_SETTINGS, IDC_PC_B_ALTITUDE, L"70000", IDS_LINE_B_ALTITUDE_RANGE},
            {IDC_PC_WRITE_SETTINGS, IDC_PC_B_DELAY, L"", IDS_LINE_B_DELAY_RANGE},
            {IDC_PC_WRITE_SETTINGS, IDC_PC_B_ON_TIME, L"256", IDS_LINE_B_ON_TIME_RANGE},
            {IDC_PC_WRITE_SETTINGS, IDC_PC_MACH_INHIBIT, L"6554", IDS_MACH_INHIBIT_RANGE},
            {IDC_PC_CALIBRATE, IDC_PC_GROUND_ALTITUDE, L"", IDS_ENTER_GROUND_ALTITUDE},
            {IDC_PC_CALIBRATE, IDC_PC_GROUND_ALTITUDE, L"15501", IDS_ALTITUDE_OUT_OF_RANGE},
            // A calibration writes the form as well.
            {IDC_PC_CALIBRATE, IDC_PC_A_DELAY, L"26", IDS_LINE_A_DELAY_RANGE},
        };
        const std::wstring status = d.Status();
        const int writes = Writes();
        for (const Case& c : cases) {
          d.ShowSettings();
          d.Type(IDC_PC_GROUND_ALTITUDE, L"1320");
          d.Type(c.field, c.text);
          d.Alt().packets.resize(2);
          messages_.Clear();
          d.Click(c.button);
          EXPECT_EQ(messages_.Asked(), (std::vector<std::pair<UINT, UINT>>{{c.stringId, MB_ICONERROR}})) << c.text;
          EXPECT_FALSE(d.WorkerRunning()) << c.text;
          EXPECT_EQ(d.Text(c.field), c.text);
          EXPECT_NE(messages_.lastText.find(L"enter"), std::wstring::npos) << c.stringId;  // in the string table
          EXPECT_EQ(d.Alt().packets.size(), 2u) << c.text;
          EXPECT_EQ(d.Actions(), std::vector<bool>(4, true));
        }
        EXPECT_EQ(Writes(), writes);
        EXPECT_EQ(d.Status(), status);
        // At the limits the same fields are taken.
        d.ShowSettings();
        d.Type(IDC_PC_MIN_BATTERY, L"14");
        d.Type(IDC_PC_GROUND_ALTITUDE, L"15500");
        messages_.Clear();
        messages_.answers = {IDNO};
        d.Click(IDC_PC_WRITE_SETTINGS);
        EXPECT_TRUE(d.WorkerRunning());
        return true;
      },
      [&](CDrivenChipLoad& d) {
        // No to the question: the device is untouched, the buttons are back,
        // and the flights in memory are still there.
        EXPECT_EQ(messages_.Asked(),
                  (std::vector<std::pair<UINT, UINT>>{{IDS_WRITE_CLEARS_DATA, MB_YESNO | MB_ICONWARNING}}));
        EXPECT_EQ(Store(), kDevicePacket);
        EXPECT_FALSE(FlashErased());
        EXPECT_EQ(d.Alt().packets.size(), 2u);
        EXPECT_EQ(d.Actions(), std::vector<bool>(4, true));
        return true;
      },
  };
  Run(dialog);
}

// A calibration at 300 m on a device that reads 287.6 m and holds offset 5.
TEST_F(ChipLoadWindow, CalibrationAndResetChangeWhatTheDeviceHolds) {
  model_->fixedTenths = 2876;
  CAltimeter altimeter;
  CDrivenChipLoad dialog(altimeter);
  size_t mark = 0;
  auto calibrateAt = [&](const wchar_t* ground) {
    return [&mark, ground](CDrivenChipLoad& d) {
      d.Type(IDC_PC_GROUND_ALTITUDE, ground);
      mark = d.Status().size();
      d.Click(IDC_PC_CALIBRATE);
      return true;
    };
  };
  auto withOffset = [](int16_t offset) {
    SettingsPacket p = kDevicePacket;
    p[6] = static_cast<uint8_t>(offset & 0xFF);
    p[7] = static_cast<uint8_t>((offset >> 8) & 0xFF);
    return Sealed(p);
  };
  const std::wstring calibrated =
      L"Clearing data... please wait a few seconds.\r\nData cleared.\r\nCalibrating...\r\n";
  const std::wstring written = std::wstring(L"Writing settings...\r\nSettings written successfully.\r\n") + kReadLines;
  dialog.steps = {
      calibrateAt(L"300"),
      [&](CDrivenChipLoad& d) {
        EXPECT_EQ(d.Since(mark),
                  calibrated + L"Offset: 13m\r\n" + written + L"Calibration complete.\r\n");
        EXPECT_EQ(d.groundAltitude, 300u);
        EXPECT_EQ(Store(), withOffset(18));
        return true;
      },
      calibrateAt(L"15500"),
      [&](CDrivenChipLoad& d) {
        EXPECT_NE(d.Since(mark).find(L"Offset: 15213m\r\n"), std::wstring::npos);
        EXPECT_EQ(Store(), withOffset(127));
        messages_.answers = {IDNO};
        return true;
      },
      // Declined: asked before anything, so nothing is cleared or written, and
      // no offset reaches the device later either.
      calibrateAt(L"0"),
      [&](CDrivenChipLoad& d) {
        EXPECT_EQ(d.Since(mark), L"Calibration not done: nothing was cleared or written.\r\n");
        EXPECT_EQ(messages_.Asked().back(),
                  (std::pair<UINT, UINT>{IDS_WRITE_CLEARS_DATA, MB_YESNO | MB_ICONWARNING}));
        EXPECT_EQ(Store(), withOffset(127));
        EXPECT_EQ(d.Alt().settings.altitudeOffset, 127);
        mark = d.Status().size();
        d.Click(IDC_PC_WRITE_SETTINGS);
        return true;
      },
      [&](CDrivenChipLoad& d) {
        EXPECT_EQ(d.Since(mark), std::wstring(kWriteLines) + kReadLines);
        EXPECT_EQ(Store(), withOffset(127));
        mark = d.Status().size();
        d.Click(IDC_PC_RESET_SETTINGS);
        return true;
      },
      [&](CDrivenChipLoad& d) {
        EXPECT_EQ(d.Since(mark), std::wstring(L"Clearing data... please wait a few seconds.\r\n"
                                              L"Data cleared.\r\n"
                                              L"Resetting...\r\n"
                                              L"Settings have been reset.\r\n") +
                                     kReadLines);
        EXPECT_EQ(Store(), kDefaultSettingsPacket);
        ExpectShown(d, kDefaultsShown);
        EXPECT_EQ(d.Actions(), std::vector<bool>(4, true));
        return true;
      },
  };
  Run(dialog);
}

// What the user typed and has not written is never replaced behind their
// back: another device's arrival (a mouse) changes nothing, and the read that
// follows the flight computer's own return keeps the typed values and says so.
TEST_F(ChipLoadWindow, TypedSettingsSurviveAnotherDevicesArrivalAndTheDevicesReturn) {
  CAltimeter altimeter;
  CDrivenChipLoad dialog(altimeter);
  size_t mark = 0;
  dialog.steps = {
      [&](CDrivenChipLoad& d) {
        d.Type(IDC_PC_A_DELAY, L"7");
        mark = d.Status().size();
        std::vector<unsigned char> mouse = MakeDeviceBroadcast({kDevTypDeviceInterface, L"\\\\?\\hid#mouse#1"});
        SendMessageW(d.hwnd, WM_DEVICECHANGE, kDeviceArrival, reinterpret_cast<LPARAM>(mouse.data()));
        return true;
      },
      [&](CDrivenChipLoad& d) {
        EXPECT_EQ(d.Since(mark), L"");
        EXPECT_EQ(d.Text(IDC_PC_A_DELAY), L"7");
        d.Click(IDC_PC_WRITE_SETTINGS);
        return true;
      },
      [&](CDrivenChipLoad& d) {
        EXPECT_EQ(Store()[16], 70);  // Line A's delay, as typed
        d.Type(IDC_PC_B_DELAY, L"5");
        bus_->Unplug(slot_);
        bus_->Pump();
        return true;
      },
      [&](CDrivenChipLoad& d) {
        if (d.Alt().IsOpen()) return false;
        mark = d.Status().size();
        bus_->Plug(slot_);
        bus_->Pump();
        return true;
      },
      [&](CDrivenChipLoad& d) {
        if (d.Since(mark).find(L"Settings read successfully.\r\n") == std::wstring::npos) return false;
        EXPECT_EQ(d.Since(mark), std::wstring(L"Device Connected.\r\nCurrent device firmware version: 4.05\r\n") +
                                     kReadLines +
                                     L"The settings you typed are kept; press Read Settings to show the device's.\r\n");
        EXPECT_EQ(d.Text(IDC_PC_B_DELAY), L"5");
        d.Click(IDC_PC_WRITE_SETTINGS);
        return true;
      },
      [&](CDrivenChipLoad& d) {
        EXPECT_EQ(Store()[17], 50);  // Line B's delay, as typed before the device came back
        // Asked for, a read shows the device's values.
        d.Type(IDC_PC_B_DELAY, L"9");
        d.Click(IDC_PC_READ_SETTINGS);
        return true;
      },
      [&](CDrivenChipLoad& d) { EXPECT_EQ(d.Text(IDC_PC_B_DELAY), L"5"); },
  };
  Run(dialog);
}

// A device that stops answering ends each task with that task's line; one that
// is pulled out mid-task leaves the dialog usable and is read again on return.
TEST_F(ChipLoadWindow, ADeviceThatFailsOrLeavesMidTaskEndsTheTaskWithItsLine) {
  CAltimeter altimeter;
  CDrivenChipLoad dialog(altimeter);
  struct Case {
    int button;
    int silentFrom;  // replies after the click
    const wchar_t* ending;
    std::vector<bool> actions;
  };
  const std::vector<bool> all(4, true), readOnly = {true, false, false, false};
  const Case cases[] = {
      {IDC_PC_READ_SETTINGS, 3, L"Altimeter found! Reading settings...\r\nFailed to read settings.\r\n", readOnly},
      {IDC_PC_WRITE_SETTINGS, 0, L"Clearing data... please wait a few seconds.\r\nFailed to clear data.\r\n", all},
      {IDC_PC_WRITE_SETTINGS, 1, L"Writing settings...\r\nFailed to write settings.\r\n", readOnly},
      {IDC_PC_RESET_SETTINGS, 0, L"Clearing data... please wait a few seconds.\r\nFailed to clear data.\r\n", all},
      {IDC_PC_RESET_SETTINGS, 1, L"Resetting...\r\nFailed to reset settings.\r\n", all},
      {IDC_PC_CALIBRATE, 0, L"Clearing data... please wait a few seconds.\r\nFailed to clear data.\r\n", all},
      {IDC_PC_CALIBRATE, 1, L"Calibrating...\r\nFailed to read settings.\r\n", all},
      {IDC_PC_CALIBRATE, 24, L"Calibrating...\r\nFailed.\r\n", all},
  };
  size_t mark = 0;
  for (const Case& c : cases) {
    dialog.steps.push_back([&, c](CDrivenChipLoad& d) {
      d.Type(IDC_PC_GROUND_ALTITUDE, L"1320");
      SilenceAfter(c.silentFrom);
      mark = d.Status().size();
      d.Click(c.button);
      return true;
    });
    dialog.steps.push_back([&, c](CDrivenChipLoad& d) {
      const std::wstring lines = d.Since(mark);
      const std::wstring ending = c.ending;
      EXPECT_TRUE(lines.size() >= ending.size() &&
                  lines.compare(lines.size() - ending.size(), ending.size(), ending) == 0)
          << "button " << c.button << " ended:\n"
          << std::string(lines.begin(), lines.end());
      EXPECT_EQ(d.Actions(), c.actions) << c.button;
      // Read again: the dialog and the device are usable.
      mark = d.Status().size();
      d.Click(IDC_PC_READ_SETTINGS);
      return true;
    });
    dialog.steps.push_back([&](CDrivenChipLoad& d) {
      EXPECT_EQ(d.Since(mark), kReadLines);
      return true;
    });
  }
  HANDLE connectedIcon = nullptr;
  dialog.steps.push_back([&](CDrivenChipLoad& d) {
    connectedIcon = d.Icon();
    {
      std::lock_guard<std::recursive_mutex> lock(bus_->Mutex());
      device_->faults.removeAt = device_->repliesSent + 5;
    }
    mark = d.Status().size();
    d.Click(IDC_PC_READ_SETTINGS);
    return true;
  });
  dialog.steps.push_back([&](CDrivenChipLoad& d) {
    const std::wstring lines = d.Since(mark);
    if (lines.find(L"Device disconnected.\r\n") == std::wstring::npos || d.Alt().IsOpen()) return false;
    // The removal is told while the worker still waits for its reply, so
    // the two last lines may come in either order.
    const std::wstring start = L"Attempting to connect to device.\r\nAltimeter found! Reading settings...\r\n";
    EXPECT_TRUE(lines == start + L"Failed to read settings.\r\nDevice disconnected.\r\n" ||
                lines == start + L"Device disconnected.\r\nFailed to read settings.\r\n")
        << std::string(lines.begin(), lines.end());
    EXPECT_FALSE(d.Alt().IsOpen());
    EXPECT_EQ(d.Actions(), std::vector<bool>(4, false));
    EXPECT_TRUE(d.Enabled(IDC_CLOSE));
    EXPECT_NE(d.Icon(), connectedIcon);
    mark = d.Status().size();
    bus_->Plug(slot_);
    bus_->Pump();
    return true;
  });
  dialog.steps.push_back([&](CDrivenChipLoad& d) {
    if (d.Since(mark).find(L"Settings read successfully.\r\n") == std::wstring::npos) return false;
    EXPECT_EQ(d.Since(mark),
              std::wstring(L"Device Connected.\r\nCurrent device firmware version: 4.05\r\n") + kReadLines);
    EXPECT_EQ(d.Actions(), all);
    EXPECT_EQ(d.Icon(), connectedIcon);
    return true;
  });
  Run(dialog);
}

}  // namespace
