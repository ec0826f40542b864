#include "settings/ControlOptionsWindow.h"

#include <algorithm>
#include <iterator>

#include "resources/resource.h"
#include "settings/ControlTasks.h"

namespace {

constexpr int kActionButtons[] = {IDC_CO_EMULATE_LAUNCH, IDC_CO_READ_PRESSURE, IDC_CO_READ_VOLTAGE,
                                  IDC_CO_FIRE_LINES};

}  // namespace

CControlOptionsWindow::CControlOptionsWindow(CAltimeter& device) : CStatusDialog(IDD_CONTROL_OPTIONS, device) {}

CControlOptionsWindow::~CControlOptionsWindow() {
  // A worker that outlives the window must not touch its controls.
  MarkClosing();
  JoinWorker();
}

bool CControlOptionsWindow::OnOtherMessage(UINT message, WPARAM, LPARAM, INT_PTR& result) {
  // Once closing, arrivals and removals are none of this dialog's business.
  if (message != WM_DEVICECHANGE || !Closing()) return false;
  result = TRUE;
  return true;
}

void CControlOptionsWindow::OnInitDialog() {
  MakeLayout();
  Anchor(IDC_STATUS_BOX, {true, true, true, true});
  Anchor(IDC_CLOSE, {false, false, true, true});
  for (int button : kActionButtons) Anchor(button, {true, true, false, false});
  AnchorGroupBox(IDC_CO_OPTIONS_GROUP, {true, true, false, true});
  AnchorGroupBox(IDC_CO_STATUS_GROUP, {true, true, true, true});
  RegisterDeviceNotifications();
  ConnectAtOpen();
}

bool CControlOptionsWindow::WaitsForWorker(int controlId) const {
  return std::find(std::begin(kActionButtons), std::end(kActionButtons), controlId) != std::end(kActionButtons);
}

void CControlOptionsWindow::OnCommand(WPARAM command) {
  switch (command) {
    case IDC_CLOSE:
      SendMessageW(hwnd, WM_CLOSE, 0, 0);
      break;
    case IDC_CO_EMULATE_LAUNCH:
      // No box for a press that could start nothing.
      if (WorkerRunning() || Closing()) break;
      ShowMessage(hwnd, IDS_CONNECT_BATTERY, MB_OK | MB_ICONINFORMATION);
      // The dialog may have begun closing while the box was up.
      if (!Closing()) StartWorker(&CControlOptionsWindow::EmulateLaunchWorker);
      break;
    case IDC_CO_READ_PRESSURE:
      StartWorker(&CControlOptionsWindow::ReadAltitudeWorker);
      break;
    case IDC_CO_READ_VOLTAGE:
      StartWorker(&CControlOptionsWindow::ReadVoltageWorker);
      break;
    case IDC_CO_FIRE_LINES:
      StartWorker(&CControlOptionsWindow::FireLinesWorker);
      break;
    default:
      break;
  }
}

void CControlOptionsWindow::RefreshConnectionLook(bool busy) {
  if (Closing() || !hwnd) return;
  // A worker must not wait for the dialog thread to take the icon.
  ShowConnectionIcon(IDC_STATUS_ICON, OnWorkerThread());
  const bool ready = !busy && Device().IsOpen();
  EnableControl(IDC_CO_EMULATE_LAUNCH, ready && Device().FlightDecoded());
  for (int button : {IDC_CO_READ_PRESSURE, IDC_CO_READ_VOLTAGE, IDC_CO_FIRE_LINES}) EnableControl(button, ready);
}

bool CControlOptionsWindow::BeforeCloseWait() {
  MarkClosing();
  // Raised again on every repost: an emulation that was just starting clears
  // the flag once, and must still see it at its next request.
  RequestCancel();
  return true;
}

void CControlOptionsWindow::ReadAltitudeWorker() { ReadAltitudeTask(Device(), *this); }

void CControlOptionsWindow::ReadVoltageWorker() { ReadVoltageTask(Device(), *this); }

void CControlOptionsWindow::FireLinesWorker() { FireLinesTask(Device(), *this); }

void CControlOptionsWindow::EmulateLaunchWorker() { EmulateLaunchTask(Device(), *this); }
