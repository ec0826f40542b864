// What every dialog adds to CBaseWindow: layout, status box, workers and the
// close protocol.
#include <windows.h>
// windows.h first: dbt.h and the HID header need its types.
#include <dbt.h>
extern "C" {
#include <hidsdi.h>
}

#include "app/DialogWindow.h"
#include "device/TraceLog.h"

CStatusDialog::CStatusDialog(uint32_t id) : CBaseWindow(id), statusBrush(CreateSolidBrush(RGB(255, 255, 255))) {}

CStatusDialog::~CStatusDialog() {
  // A worker still running holds this object: the close protocol normally
  // waited for it, but a dialog ended another way must not free it under it.
  for (HANDLE thread : olderWorkers_) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  if (workerThread) {
    WaitForSingleObject(workerThread, INFINITE);
    CloseHandle(workerThread);
  }
  if (hwnd) StopRelayingDeviceChanges(hwnd);
  TraceLog << "DESTRUCT" << std::endl;
  layout.reset();
  if (statusBrush) DeleteObject(statusBrush);
}

void CStatusDialog::AppendStatus(const std::wstring& line) {
  statusText.Append(line);
  HWND window = statusWindow_.load();
  // One refresh shows every line appended before it, so one waiting is enough;
  // a burst of lines then costs one repaint, not one per line.
  if (window && !refreshPending_.exchange(true)) {
    if (!PostMessageW(window, kStatusChangedMessage, 0, 0)) refreshPending_ = false;
  }
}

void CStatusDialog::MakeLayout() {
  statusWindow_ = hwnd;
  layout = std::make_unique<DialogLayout>(hwnd, WindowWidth(), WindowHeight());
}

void CStatusDialog::Anchor(int controlId, AnchorFlags anchors) {
  if (layout) layout->AddAnchor(controlId, anchors);
}

void CStatusDialog::AnchorGroupBox(int controlId, AnchorFlags anchors) {
  HWND box = MakeOwnerDrawnGroupBox(controlId);
  if (layout && box) layout->AddAnchor(box, anchors);
}

void CStatusDialog::RegisterDeviceNotifications() {
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  HidD_GetHidGuid(&filter.dbcc_classguid);
  RegisterDeviceNotificationW(hwnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  RelayDeviceChangesTo(hwnd);
}

void CStatusDialog::PassToLayout(UINT message, WPARAM wParam, LPARAM lParam) {
  if (layout) layout->HandleMessage(message, wParam, lParam);
}

bool CStatusDialog::HandleStatusMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  if (message == WM_CTLCOLORSTATIC && reinterpret_cast<HWND>(lParam) == GetDlgItem(hwnd, kStatusBoxId)) {
    SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
    result = reinterpret_cast<INT_PTR>(statusBrush);
    return true;
  }
  if (message == kStatusChangedMessage) {
    RefreshStatusBox();
    result = TRUE;
    return true;
  }
  return false;
}

void CStatusDialog::RefreshStatusBox() {
  refreshPending_ = false;
  HWND box = GetDlgItem(hwnd, kStatusBoxId);
  if (!box) return;
  const std::wstring text = statusText.Text();
  SendMessageW(box, WM_SETREDRAW, FALSE, 0);
  SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  SendMessageW(box, EM_LINESCROLL, 0, 0x7FFFFFFF);
  SendMessageW(box, WM_SETREDRAW, TRUE, 0);
  // Redraw is not repainted by itself once it is switched back on.
  InvalidateRect(box, nullptr, TRUE);
}

void CStatusDialog::HandleDeviceChange(WPARAM event, LPARAM record, CAltimeter& altimeter, ConnectionGuard& guard) {
  DeviceNotification notification;
  if (!DecodeDeviceBroadcast(record, notification)) notification = DeviceNotification{0, std::wstring()};
  OnDeviceChange(static_cast<uint32_t>(event), notification, altimeter, *this, guard);
}

void CStatusDialog::ShowConnectionIcon(int pictureId, const CAltimeter& altimeter, bool post) {
  ::ShowConnectionIcon(GetDlgItem(hwnd, pictureId), ConnectionIconId(altimeter), post);
}

bool CStatusDialog::StartWorker(LPTHREAD_START_ROUTINE routine) {
  HANDLE thread = CreateThread(nullptr, 0, routine, this, 0, nullptr);
  if (!thread) return false;
  if (workerThread) {
    if (WaitForSingleObject(workerThread, 0) == WAIT_OBJECT_0)
      CloseHandle(workerThread);
    else
      olderWorkers_.push_back(workerThread);
  }
  workerThread = thread;
  return true;
}

bool CStatusDialog::WorkerRunning() const {
  return workerThread && WaitForSingleObject(workerThread, 0) == WAIT_TIMEOUT;
}

bool CStatusDialog::DeviceConnected(const CAltimeter& altimeter) {
  if (altimeter.IsOpen()) return true;
  AppendStatus(L"Altimeter not found. Make sure it is properly connected to the PC.\r\n");
  return false;
}

INT_PTR CStatusDialog::RunCloseProtocol(const char* repostTrace) {
  TraceLog << "Waiting for thread to close..." << std::endl;
  // No worker at all is no wait: WaitForSingleObject fails at once.
  if (WaitForSingleObject(workerThread, 100) != WAIT_TIMEOUT) {
    TraceLog << "Thread has exited." << std::endl;
    // The worker's last lines may still wait in the queue behind this close.
    RefreshStatusBox();
    EndDialog(hwnd, 0);
  } else {
    TraceLog << repostTrace << std::endl;
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
  }
  return TRUE;
}
