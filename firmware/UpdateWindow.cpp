#include "firmware/UpdateWindow.h"

#include <algorithm>

#include "device/HidDevice.h"
#include "device/TraceLog.h"
#include "resources/resource.h"

CUpdateWindow::CUpdateWindow(CAltimeter& device, UpdateProgressLines& progressLines)
    : CStatusDialog(IDD_UPDATE_FIRMWARE, device), progressLines_(progressLines) {}

CUpdateWindow::~CUpdateWindow() {
  JoinWorker();
  // The main window's later operations start unconnected.
  altimeter.Close();
}

INT_PTR CUpdateWindow::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  PassToLayout(message, wParam, lParam);
  INT_PTR result = FALSE;
  switch (message) {
    case WM_CLOSE:
      return HandleClose();
    case WM_INITDIALOG:
      MakeLayout();
      Anchor(IDC_STATUS_BOX, {true, true, true, true});
      Anchor(IDC_CLOSE, {false, false, true, true});
      Anchor(IDC_UP_UPDATE, {false, false, true, true});
      Anchor(IDC_STATUS_ICON, {true, true, false, false});
      AnchorGroupBox(IDC_UP_STATUS_GROUP, {true, true, true, true});
      RegisterDeviceNotifications();
      ConnectAtOpen();
      return TRUE;
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) {
        SendMessageW(window, WM_CLOSE, 0, 0);
        return TRUE;
      }
      break;
    case WM_COMMAND:
      // Escape reaches a dialog as IDCANCEL from the dialog manager.
      if (LOWORD(wParam) == IDC_CLOSE || LOWORD(wParam) == IDCANCEL) {
        SendMessageW(window, WM_CLOSE, 0, 0);
      } else if (LOWORD(wParam) == IDC_UP_UPDATE) {
        StartUpdate();
      }
      return TRUE;
    default:
      if (HandleStatusMessage(message, wParam, lParam, result)) return result;
      break;
  }
  return HandleSkinMessage(window, message, wParam, lParam);
}

void CUpdateWindow::RunConnectRoutine() { ConnectBootloaderDevice(altimeter, *this); }

void CUpdateWindow::RefreshConnectionLook(bool busy) { RefreshLook(busy, false); }

void CUpdateWindow::RefreshLook(bool busy, bool fromWorker) {
  ShowConnectionIcon(IDC_STATUS_ICON, fromWorker);
  EnableWindow(GetDlgItem(hwnd, IDC_UP_UPDATE), !busy && altimeter.IsOpen());
  EnableWindow(GetDlgItem(hwnd, IDC_CLOSE), !busy);
}

bool CUpdateWindow::BeforeCloseWait() {
  if (WorkerRunning()) {
    // A half-programmed device has no application to start.
    ShowMessage(hwnd, IDS_UPDATE_DELICATE, MB_OK | MB_ICONWARNING);
    return false;
  }
  TraceLog << "Canceled IO." << std::endl;
  altimeter.cancelRequested = true;
  return true;
}

void CUpdateWindow::OnUpdateProgress(int blocksDone, int blocksInAll) {
  const std::wstring line = progressLines_.OnProgress(blocksDone, blocksInAll);
  if (!line.empty()) AppendStatus(line + L"\r\n");
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
  EnableWindow(GetDlgItem(hwnd, IDC_UP_UPDATE), FALSE);
  EnableWindow(GetDlgItem(hwnd, IDC_CLOSE), FALSE);
  // Refused only while other work has the channel; the buttons follow it again.
  if (!StartWorker(&CUpdateWindow::UpdateTask)) RefreshConnectionLook(WorkerRunning());
}

void CUpdateWindow::UpdateTask() {
  TraceLog << "Firmware file: " << NarrowText(firmwarePath) << std::endl;
  if (!altimeter.IsOpen()) {
    RefreshLook(false, true);
    AppendStatus(L"Altimeter not found. Make sure it is properly connected to the PC.\r\n");
    return;
  }
  AppendStatus(L"Updating firmware...\r\n");
  UpdateVersions versions;
  const UpdateResult result =
      altimeter.UpdateFirmware(this, firmwarePath, versions.formatVersion, versions.hardwareVersion,
                               versions.requiredBootloaderVersion, versions.firmwareVersion);
  for (const std::wstring& line : UpdateResultLines(result, versions)) AppendStatus(line + L"\r\n");
  RefreshLook(false, true);
  if (result != UpdateOk) AppendStatus(std::wstring(kUpdateFailed) + L"\r\n");
}
