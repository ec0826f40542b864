#include "settings/ChipLoadWindow.h"

#include <algorithm>
#include <iterator>

#include "resources/resource.h"

namespace {

// Each line's radio buttons, indexed by LineMode.
constexpr int kLineARadios[] = {IDC_PC_A_DISABLED,        IDC_PC_A_MODE_TIME,          IDC_PC_A_MODE_APOGEE,
                                IDC_PC_A_MODE_ALTITUDE,   IDC_PC_A_MODE_BEFORE_APOGEE, IDC_PC_A_MODE_PEAK_VELOCITY};
constexpr int kLineBRadios[] = {IDC_PC_B_DISABLED,        IDC_PC_B_MODE_TIME,          IDC_PC_B_MODE_APOGEE,
                                IDC_PC_B_MODE_ALTITUDE,   IDC_PC_B_MODE_BEFORE_APOGEE, IDC_PC_B_MODE_PEAK_VELOCITY};
constexpr int kActionButtons[] = {IDC_PC_READ_SETTINGS, IDC_PC_WRITE_SETTINGS, IDC_PC_CALIBRATE, IDC_PC_RESET_SETTINGS};

}  // namespace

CChipLoadWindow::CChipLoadWindow(CAltimeter& device) : CStatusDialog(IDD_PROGRAM_CHIP, device) {}

CChipLoadWindow::~CChipLoadWindow() { JoinWorker(); }

const char* CChipLoadWindow::RepostTrace() const { return "Reposting close message..."; }

void CChipLoadWindow::OnInitDialog() {
  MakeLayout();
  Anchor(IDC_STATUS_BOX, {true, true, true, true});
  for (int id : {IDC_PC_READ_SETTINGS, IDC_PC_WRITE_SETTINGS, IDC_CLOSE, IDC_PC_RESET_SETTINGS})
    Anchor(id, {false, false, true, true});
  for (int id : {IDC_PC_A_DISABLED, IDC_PC_B_DISABLED, IDC_PC_A_MODE_TIME, IDC_PC_B_MODE_TIME, IDC_PC_A_MODE_ALTITUDE,
                 IDC_PC_B_MODE_ALTITUDE, IDC_PC_A_MODE_APOGEE, IDC_PC_B_MODE_APOGEE, IDC_PC_A_MODE_BEFORE_APOGEE,
                 IDC_PC_B_MODE_BEFORE_APOGEE, IDC_PC_A_MODE_PEAK_VELOCITY, IDC_PC_B_MODE_PEAK_VELOCITY, IDC_PC_A_TIME,
                 IDC_PC_B_TIME, IDC_PC_A_ALTITUDE, IDC_PC_B_ALTITUDE, IDC_PC_A_DELAY, IDC_PC_B_DELAY, IDC_PC_A_ON_TIME,
                 IDC_PC_B_ON_TIME})
    Anchor(id, {true, true, false, false});
  for (int id : {IDC_PC_MACH_INHIBIT_LABEL, IDC_PC_MACH_INHIBIT, IDC_PC_METRIC, IDC_PC_IMPERIAL,
                 IDC_PC_GROUND_ALTITUDE_LABEL, IDC_PC_GROUND_ALTITUDE, IDC_PC_SEPARATOR_1, IDC_PC_CALIBRATE,
                 IDC_PC_MIN_BATTERY_LABEL, IDC_PC_MIN_BATTERY, IDC_PC_SEPARATOR_2})
    Anchor(id, {true, false, false, true});
  Anchor(IDC_PC_STATUS_ICON, {true, true, false, false});
  AnchorGroupBox(IDC_PC_STATUS_GROUP, {true, true, true, true});
  AnchorGroupBox(IDC_PC_SETTINGS_GROUP, {true, true, false, true});
  AnchorGroupBox(IDC_PC_LINE_A_GROUP, {true, true, false, false});
  AnchorGroupBox(IDC_PC_LINE_B_GROUP, {true, true, false, false});
  AnchorGroupBox(IDC_PC_GENERAL_GROUP, {true, false, false, true});

  CheckDlgButton(hwnd, IDC_PC_A_DISABLED, BST_CHECKED);
  CheckDlgButton(hwnd, IDC_PC_B_DISABLED, BST_CHECKED);
  RegisterDeviceNotifications();
  ShowSettings(Device().settings);
  AppendStatus(L"Warning!\r\n");
  AppendStatus(L"Writing settings or calibrating will clear the current data on the device!\r\n\r\n");
  // Busy while the read that the routine asked for is on its way.
  ConnectAtOpen();
}

// A worker may not start inside the connect routine (the channel has one user
// at a time), so the read is posted and starts as soon as the routine is over,
// as if "Read Settings" had been pressed.
void CChipLoadWindow::RunConnectRoutine() {
  if (ConnectNormalDevice(Device(), *this) != Connected) return;
  autoReadPending_ = true;
  if (!PostMessageW(hwnd, WM_COMMAND, IDC_PC_READ_SETTINGS, 0)) autoReadPending_ = false;
}

void CChipLoadWindow::RefreshConnectionLook(bool busy) {
  // A worker must not wait for the dialog thread over the icon.
  const bool fromWorker = OnWorkerThread();
  ShowConnectionIcon(IDC_PC_STATUS_ICON, fromWorker);
  // A task's own look replaces what an early failure left; the look the
  // dialog thread refreshes after the worker keeps it.
  if (fromWorker) readOnly_ = false;
  const bool enable = !busy && !autoReadPending_ && Device().IsOpen();
  for (int id : kActionButtons)
    EnableWindow(GetDlgItem(hwnd, id), enable && (id == IDC_PC_READ_SETTINGS || !readOnly_));
}

void CChipLoadWindow::OnCommand(WPARAM command) {
  NoteEdit(command);
  switch (command) {
    case IDC_CLOSE:
      SendMessageW(hwnd, WM_CLOSE, 0, 0);
      break;
    // The flights in memory stay: they may exist nowhere else once the write
    // has cleared the device, and a read changes nothing about them.
    case IDC_PC_READ_SETTINGS:
      automaticRead_ = autoReadPending_.exchange(false);
      if (WorkerRunning()) break;
      readOnly_ = false;
      Start(&CChipLoadWindow::ReadWorker);
      break;
    case IDC_PC_WRITE_SETTINGS:
      if (WorkerRunning()) break;
      // The battery's limit is the form's, as on every path that writes it.
      if (!FormFits()) break;
      automaticRead_ = false;
      Start(&CChipLoadWindow::WriteWorker);
      break;
    case IDC_PC_RESET_SETTINGS:
      if (WorkerRunning()) break;
      automaticRead_ = false;
      Start(&CChipLoadWindow::ResetWorker);
      break;
    case IDC_PC_CALIBRATE: {
      if (WorkerRunning()) break;
      uint32_t ground = 0;
      if (const uint32_t refusal = CheckGroundAltitude(ControlText(IDC_PC_GROUND_ALTITUDE), ground)) {
        ShowMessage(hwnd, refusal, MB_ICONERROR);
        break;
      }
      // The calibration clears the device and writes the form too: refuse a
      // form that cannot be written before anything happens.
      if (!FormFits()) break;
      groundAltitude = ground;
      automaticRead_ = false;
      Start(&CChipLoadWindow::CalibrateWorker);
      break;
    }
    case IDC_PC_A_DISABLED:
    case IDC_PC_A_MODE_APOGEE:
    case IDC_PC_A_MODE_PEAK_VELOCITY:
      SetLineEnabling(IDC_PC_A_TIME, IDC_PC_A_ALTITUDE, false, false);
      break;
    case IDC_PC_A_MODE_TIME:
      SetLineEnabling(IDC_PC_A_TIME, IDC_PC_A_ALTITUDE, true, false);
      break;
    case IDC_PC_A_MODE_ALTITUDE:
    case IDC_PC_A_MODE_BEFORE_APOGEE:
      SetLineEnabling(IDC_PC_A_TIME, IDC_PC_A_ALTITUDE, false, true);
      break;
    case IDC_PC_B_DISABLED:
    case IDC_PC_B_MODE_APOGEE:
    case IDC_PC_B_MODE_PEAK_VELOCITY:
      SetLineEnabling(IDC_PC_B_TIME, IDC_PC_B_ALTITUDE, false, false);
      break;
    case IDC_PC_B_MODE_TIME:
      SetLineEnabling(IDC_PC_B_TIME, IDC_PC_B_ALTITUDE, true, false);
      break;
    case IDC_PC_B_MODE_ALTITUDE:
    case IDC_PC_B_MODE_BEFORE_APOGEE:
      SetLineEnabling(IDC_PC_B_TIME, IDC_PC_B_ALTITUDE, false, true);
      break;
    case IDC_PC_IMPERIAL:
      ShowMessage(hwnd, IDS_IMPERIAL_UNITS, MB_ICONWARNING | MB_OK);
      break;
    default:
      break;
  }
}

void CChipLoadWindow::NoteEdit(WPARAM command) {
  if (fillingForm_) return;
  const int id = LOWORD(command);
  const bool radio = HIWORD(command) == BN_CLICKED &&
                     (std::find(std::begin(kLineARadios), std::end(kLineARadios), id) != std::end(kLineARadios) ||
                      std::find(std::begin(kLineBRadios), std::end(kLineBRadios), id) != std::end(kLineBRadios) ||
                      id == IDC_PC_IMPERIAL || id == IDC_PC_METRIC);
  const bool typed = HIWORD(command) == EN_CHANGE && id != IDC_PC_GROUND_ALTITUDE;
  if (radio || typed) formEdited_ = true;
}

bool CChipLoadWindow::WaitsForWorker(int controlId) const {
  return std::find(std::begin(kActionButtons), std::end(kActionButtons), controlId) != std::end(kActionButtons);
}

void CChipLoadWindow::Start(void (CChipLoadWindow::*worker)()) {
  RefreshConnectionLook(true);
  if (!StartWorker(worker)) RefreshConnectionLook(WorkerRunning());
}

void CChipLoadWindow::SetLineEnabling(int timeId, int altitudeId, bool time, bool altitude) {
  EnableWindow(GetDlgItem(hwnd, timeId), time);
  EnableWindow(GetDlgItem(hwnd, altitudeId), altitude);
}

std::wstring CChipLoadWindow::ControlText(int id) const {
  HWND control = GetDlgItem(hwnd, id);
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

SettingsControls CChipLoadWindow::ReadControls() const {
  auto line = [this](const int (&radios)[6], int time, int altitude, int delay, int onTime) {
    LineControls c;
    for (int mode = 0; mode < 6; ++mode)
      if (IsDlgButtonChecked(hwnd, radios[mode]) == BST_CHECKED) c.checkedMode = mode;
    c.time = ControlText(time);
    c.altitude = ControlText(altitude);
    c.delay = ControlText(delay);
    c.onTime = ControlText(onTime);
    return c;
  };
  SettingsControls c;
  c.lineA = line(kLineARadios, IDC_PC_A_TIME, IDC_PC_A_ALTITUDE, IDC_PC_A_DELAY, IDC_PC_A_ON_TIME);
  c.lineB = line(kLineBRadios, IDC_PC_B_TIME, IDC_PC_B_ALTITUDE, IDC_PC_B_DELAY, IDC_PC_B_ON_TIME);
  c.machInhibit = ControlText(IDC_PC_MACH_INHIBIT);
  c.imperial = IsDlgButtonChecked(hwnd, IDC_PC_IMPERIAL) == BST_CHECKED;
  c.minBattery = ControlText(IDC_PC_MIN_BATTERY);
  return c;
}

bool CChipLoadWindow::ReadSettingsForm(SettingsControls& controls) {
  controls = ReadControls();
  return true;
}

void CChipLoadWindow::ShowSettings(const SettingsRecord& record) {
  // A read the user did not ask for never replaces what they typed and have
  // not written: the form keeps it, and the status box says so.
  if (automaticRead_ && formEdited_) {
    AppendStatus(L"The settings you typed are kept; press Read Settings to show the device's.\r\n");
    return;
  }
  fillingForm_ = true;
  FillForm(record);
  fillingForm_ = false;
  formEdited_ = false;
}

void CChipLoadWindow::FillForm(const SettingsRecord& record) {
  const SettingsControls c = ShowSettingsForm(record);
  auto line = [this](const LineControls& l, const int (&radios)[6], int time, int altitude, int delay, int onTime) {
    for (int mode = 0; mode < 6; ++mode)
      CheckDlgButton(hwnd, radios[mode], mode == l.checkedMode ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextW(hwnd, time, l.time.c_str());
    SetDlgItemTextW(hwnd, altitude, l.altitude.c_str());
    SetDlgItemTextW(hwnd, delay, l.delay.c_str());
    SetDlgItemTextW(hwnd, onTime, l.onTime.c_str());
  };
  line(c.lineA, kLineARadios, IDC_PC_A_TIME, IDC_PC_A_ALTITUDE, IDC_PC_A_DELAY, IDC_PC_A_ON_TIME);
  line(c.lineB, kLineBRadios, IDC_PC_B_TIME, IDC_PC_B_ALTITUDE, IDC_PC_B_DELAY, IDC_PC_B_ON_TIME);
  SetDlgItemTextW(hwnd, IDC_PC_MACH_INHIBIT, c.machInhibit.c_str());
  CheckDlgButton(hwnd, IDC_PC_IMPERIAL, c.imperial ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(hwnd, IDC_PC_METRIC, c.imperial ? BST_UNCHECKED : BST_CHECKED);
  SetDlgItemTextW(hwnd, IDC_PC_MIN_BATTERY, c.minBattery.c_str());
  // The enabling rules of the checked modes; none for a mode of no radio.
  if (c.lineA.checkedMode >= 0)
    SendMessageW(hwnd, WM_COMMAND, static_cast<WPARAM>(kLineARadios[c.lineA.checkedMode]), 0);
  if (c.lineB.checkedMode >= 0)
    SendMessageW(hwnd, WM_COMMAND, static_cast<WPARAM>(kLineBRadios[c.lineB.checkedMode]), 0);
}

bool CChipLoadWindow::FormFits() {
  SettingsRecord scratch = Device().settings;
  const SettingsField field = CollectSettingsForm(ReadControls(), scratch);
  if (field == SettingsField::None) return true;
  ShowMessage(hwnd, FieldErrorStringId(field), MB_ICONERROR);
  return false;
}

void CChipLoadWindow::OfferRetry() {
  readOnly_ = true;
  EnableControl(IDC_PC_READ_SETTINGS, true);
}

void CChipLoadWindow::ReadWorker() {
  ReadSettingsTask(Device(), *this);
  automaticRead_ = false;
}

void CChipLoadWindow::WriteWorker() { WriteSettingsTask(Device(), *this); }

void CChipLoadWindow::ResetWorker() { ResetSettingsTask(Device(), *this); }

void CChipLoadWindow::CalibrateWorker() { CalibrateTask(Device(), *this, groundAltitude); }
