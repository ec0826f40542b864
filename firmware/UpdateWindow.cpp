#include "firmware/UpdateWindow.h"

#include <algorithm>

#include "firmware/UpdateTask.h"
#include "device/TraceLog.h"
#include "resources/resource.h"

CUpdateWindow::CUpdateWindow(CAltimeter& device, UpdateProgressLines& progressLines)
    : CStatusDialog(IDD_UPDATE_FIRMWARE, device), progressLines_(progressLines) {}

CUpdateWindow::~CUpdateWindow() {
  JoinWorker();
  // The main window's later operations start unconnected.
  Device().Close();
}

void CUpdateWindow::OnInitDialog() {
  MakeLayout();
  Anchor(IDC_STATUS_BOX, {true, true, true, true});
  Anchor(IDC_CLOSE, {false, false, true, true});
  Anchor(IDC_UP_UPDATE, {false, false, true, true});
  Anchor(IDC_STATUS_ICON, {true, true, false, false});
  AnchorGroupBox(IDC_UP_STATUS_GROUP, {true, true, true, true});
  RegisterDeviceNotifications();
  ConnectAtOpen();
}

void CUpdateWindow::OnCommand(WPARAM command) {
  // Escape reaches a dialog as IDCANCEL from the dialog manager.
  if (LOWORD(command) == IDC_CLOSE || LOWORD(command) == IDCANCEL) {
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
  } else if (LOWORD(command) == IDC_UP_UPDATE) {
    StartUpdate();
  }
}

bool CUpdateWindow::WaitsForWorker(int controlId) const { return controlId == IDC_UP_UPDATE; }

void CUpdateWindow::RunConnectRoutine() { ConnectBootloaderDevice(Device(), *this); }

void CUpdateWindow::RefreshConnectionLook(bool busy) {
  // A worker leaves the icon to the dialog thread, which may be waiting.
  ShowConnectionIcon(IDC_STATUS_ICON, OnWorkerThread());
  EnableControl(IDC_UP_UPDATE, !busy && Device().IsOpen());
  EnableControl(IDC_CLOSE, !busy);
}

bool CUpdateWindow::BeforeCloseWait() {
  if (WorkerRunning()) {
    // A half-programmed device has no application to start.
    ShowMessage(hwnd, IDS_UPDATE_DELICATE, MB_OK | MB_ICONWARNING);
    return false;
  }
  TraceLog << "Canceled IO." << std::endl;
  RequestCancel();
  return true;
}

void CUpdateWindow::StartUpdate() {
  std::fill(std::begin(fileName_), std::end(fileName_), L'\0');
  OPENFILENAMEW request{};
  request.lStructSize = sizeof request;
  request.hwndOwner = hwnd;
  request.lpstrFilter = L"Firmware Code\0*.dat\0";
  request.lpstrFile = fileName_;
  request.nMaxFile = kFileNameLength;
  request.lpstrTitle = L"Load Firmware file";
  request.lpstrDefExt = L"dat";
  request.Flags = OFN_EXPLORER;
  if (!ShowFileDialog(request, false)) return;
  fileName_[kFileNameLength - 1] = L'\0';
  firmwarePath = fileName_;
  // Focus left on a disabled button takes no keys: Escape must still reach the dialog.
  SendMessageW(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(hwnd, IDC_STATUS_BOX)), TRUE);
  EnableControl(IDC_UP_UPDATE, false);
  EnableControl(IDC_CLOSE, false);
  // Refused only while other work has the channel; the buttons follow it again.
  if (!StartWorker(&CUpdateWindow::UpdateWorker)) RefreshConnectionLook(WorkerRunning());
}

void CUpdateWindow::UpdateWorker() { UpdateFirmwareTask(Device(), *this, firmwarePath, progressLines_); }
