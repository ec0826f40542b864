#include "settings/ControlOptionsWindow.h"

#include <cstring>
#include <type_traits>

#include "device/TraceLog.h"
#include "plot/PlotSurfaces.h"
#include "resources/resource.h"
#include "settings/ControlOptionsLines.h"

CControlOptionsWindow::CControlOptionsWindow(CAltimeter& device) : CStatusDialog(IDD_CONTROL_OPTIONS, device) {}

CControlOptionsWindow::~CControlOptionsWindow() {
  // A worker that outlives the window must not touch its controls.
  closing = true;
  JoinWorker();
}

INT_PTR CControlOptionsWindow::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  PassToLayout(message, wParam, lParam);
  INT_PTR result = FALSE;
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog();
      return TRUE;
    case WM_CLOSE:
      return HandleClose();
    case WM_COMMAND:
      OnCommand(wParam);
      return TRUE;
    case WM_DEVICECHANGE:
      // Once closing, arrivals and removals are none of this dialog's business.
      if (closing) return TRUE;
      break;
    default:
      break;
  }
  if (HandleStatusMessage(message, wParam, lParam, result)) return result;
  return HandleSkinMessage(window, message, wParam, lParam);
}

void CControlOptionsWindow::OnInitDialog() {
  MakeLayout();
  Anchor(IDC_STATUS_BOX, {true, true, true, true});
  Anchor(IDC_CLOSE, {false, false, true, true});
  for (int button : {IDC_CO_EMULATE_LAUNCH, IDC_CO_READ_PRESSURE, IDC_CO_READ_VOLTAGE, IDC_CO_FIRE_LINES})
    Anchor(button, {true, true, false, false});
  AnchorGroupBox(IDC_CO_OPTIONS_GROUP, {true, true, false, true});
  AnchorGroupBox(IDC_CO_STATUS_GROUP, {true, true, true, true});
  RegisterDeviceNotifications();
  ConnectAtOpen();
}

void CControlOptionsWindow::OnCommand(WPARAM command) {
  switch (command) {
    case IDC_CLOSE:
      SendMessageW(hwnd, WM_CLOSE, 0, 0);
      break;
    case IDC_CO_EMULATE_LAUNCH:
      // No box for a press that could start nothing.
      if (WorkerRunning() || closing) break;
      ShowMessage(hwnd, IDS_CONNECT_BATTERY, MB_OK | MB_ICONINFORMATION);
      // The dialog may have begun closing while the box was up.
      if (!closing) StartWorker(&CControlOptionsWindow::EmulateLaunchTask);
      break;
    case IDC_CO_READ_PRESSURE:
      StartWorker(&CControlOptionsWindow::ReadAltitudeTask);
      break;
    case IDC_CO_READ_VOLTAGE:
      StartWorker(&CControlOptionsWindow::ReadVoltageTask);
      break;
    case IDC_CO_FIRE_LINES:
      StartWorker(&CControlOptionsWindow::FireLinesTask);
      break;
    default:
      break;
  }
}

void CControlOptionsWindow::RefreshConnectionLook(bool busy) {
  if (closing || !hwnd) return;
  // A worker must not wait for the dialog thread to take the icon.
  const bool fromWorker = GetWindowThreadProcessId(hwnd, nullptr) != GetCurrentThreadId();
  ShowConnectionIcon(IDC_STATUS_ICON, fromWorker);
  const bool ready = !busy && altimeter.IsOpen();
  bool decoded = false;
  {
    std::lock_guard<std::recursive_mutex> lock(altimeter.dataLock);
    decoded = !altimeter.flight.altitudeMsl.empty();
  }
  EnableWindow(GetDlgItem(hwnd, IDC_CO_EMULATE_LAUNCH), ready && decoded);
  for (int button : {IDC_CO_READ_PRESSURE, IDC_CO_READ_VOLTAGE, IDC_CO_FIRE_LINES})
    EnableWindow(GetDlgItem(hwnd, button), ready);
}

bool CControlOptionsWindow::BeforeCloseWait() {
  closing = true;
  // Raised again on every repost: an emulation that was just starting clears
  // the flag once, and must still see it at its next request.
  altimeter.cancelRequested = true;
  return true;
}

void CControlOptionsWindow::OnEmulationEvent(uint8_t code, int requestCount) {
  const std::wstring line = EmulationEventLine(code, requestCount);
  if (!line.empty()) AppendStatus(line);
}

bool CControlOptionsWindow::ReadAltitudeSteps() {
  // The settings are read only as the device's handshake before the altitude;
  // the program's own record must come out of it exactly as it went in.
  static_assert(std::is_trivially_copyable_v<SettingsRecord>);
  unsigned char saved[sizeof(SettingsRecord)];
  std::memcpy(saved, &altimeter.settings, sizeof saved);
  const CommandResult read = altimeter.ReadSettings();
  altimeter.settings.ParsePacket();
  std::memcpy(&altimeter.settings, saved, sizeof saved);
  if (read != Ok) {
    AppendStatus(L"Failed to read settings.\r\n");
    return false;
  }
  float metres = 0;
  if (altimeter.ReadAltitude(metres) != Ok) {
    AppendStatus(L"Failed.\r\n");
    return false;
  }
  AppendStatus(AltitudeLine(metres));
  return true;
}

void CControlOptionsWindow::ReadAltitudeTask() {
  RefreshConnectionLook(true);
  const bool shown = DeviceConnected() && ReadAltitudeSteps();
  RefreshConnectionLook(false);
  if (shown) RequestRedraw();
}

void CControlOptionsWindow::ReadVoltageTask() {
  RefreshConnectionLook(true);
  if (!DeviceConnected()) {
    RefreshConnectionLook(false);
    return;
  }
  uint16_t tenths = 0;
  if (altimeter.ReadVoltage(tenths) != Ok) {
    AppendStatus(L"Failed.\r\n");
    RefreshConnectionLook(false);
    return;
  }
  AppendStatus(VoltageLine(tenths));
  TraceLog << "Notifying connection..." << std::endl;
  RefreshConnectionLook(false);
  TraceLog << "Done." << std::endl;
}

void CControlOptionsWindow::FireLinesTask() {
  RefreshConnectionLook(true);
  if (DeviceConnected()) {
    AppendStatus(L"Firing both lines for 2 seconds...\r\n");
    AppendStatus(altimeter.FireLines() == Ok ? L"Done.\r\n" : L"Failed.\r\n");
  }
  RefreshConnectionLook(false);
}

void CControlOptionsWindow::EmulateLaunchTask() {
  RefreshConnectionLook(true);
  if (DeviceConnected()) {
    AppendStatus(L"Emulating...\r\n");
    AppendStatus(altimeter.EmulateLaunch(this) ? L"Done.\r\n" : L"Failed.\r\n");
  }
  RefreshConnectionLook(false);
}
