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
#include "plot/PlotSurfaces.h"
#include "resources/resource.h"

namespace {

bool RegisterWithTheSystem(HWND window, void* filter) {
  return RegisterDeviceNotificationW(window, filter, DEVICE_NOTIFY_WINDOW_HANDLE) != nullptr;
}

}  // namespace

CStatusDialog::RegisterSeam CStatusDialog::deviceNotificationSeam = RegisterWithTheSystem;

CStatusDialog::CStatusDialog(uint32_t id, CAltimeter& device)
    : CBaseWindow(id),
      altimeter_(device),
      statusBrush(CreateSolidBrush(RGB(255, 255, 255))),
      connection_(
          device, [this] { RunConnectRoutine(); }, {},
          [this] {
            HWND window = statusWindow_.load();
            if (window) PostMessageW(window, kWorkerEndedMessage, 0, 0);
          }) {}

CStatusDialog::~CStatusDialog() {
  // The derived destructor joined already; this covers a dialog that forgot.
  JoinWorker();
  connection_.Stop();
  if (workerThread_) CloseHandle(workerThread_);
  if (hwnd) StopRelayingDeviceChanges(hwnd);
  TraceLog << "DESTRUCT" << std::endl;
  layout.reset();
  if (statusBrush) DeleteObject(statusBrush);
}

INT_PTR CStatusDialog::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  PassToLayout(message, wParam, lParam);
  INT_PTR result = FALSE;
  switch (message) {
    case WM_INITDIALOG:
      // Appends stop at the box's limit: room for all that statusText keeps.
      SendDlgItemMessageW(window, IDC_STATUS_BOX, EM_SETLIMITTEXT, StatusText::kCapacity, 0);
      OnInitDialog();
      return TRUE;
    case WM_CLOSE:
      return HandleClose();
    case WM_COMMAND:
      HandleCommand(wParam);
      return TRUE;
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE && ClosesOnEscape()) {
        SendMessageW(window, WM_CLOSE, 0, 0);
        return TRUE;
      }
      break;
    default:
      break;
  }
  if (OnOtherMessage(message, wParam, lParam, result)) return result;
  if (HandleStatusMessage(message, wParam, lParam, result)) return result;
  return HandleSkinMessage(window, message, wParam, lParam);
}

void CStatusDialog::AppendLine(LineKind, const std::wstring& line) {
  statusText.Append(line);
  HWND window = statusWindow_.load();
  // One refresh shows every line appended before it, so one waiting is enough;
  // a burst of lines then costs one repaint, not one per line.
  if (window && !refreshPending_.exchange(true)) {
    if (!PostMessageW(window, kStatusChangedMessage, 0, 0)) refreshPending_ = false;
  }
}

TaskAnswer CStatusDialog::Ask(uint32_t stringId, uint32_t style) {
  switch (ShowMessage(hwnd, stringId, style)) {
    case IDOK:
      return TaskAnswer::Ok;
    case IDYES:
      return TaskAnswer::Yes;
    case IDNO:
      return TaskAnswer::No;
    default:
      // A box that failed or was cancelled agreed to nothing.
      return TaskAnswer::None;
  }
}

void CStatusDialog::ShowBusy(bool busy) { RefreshConnectionLook(busy); }

void CStatusDialog::RequestRedraw() { ::RequestRedraw(); }

bool CStatusDialog::OnWorkerThread() const { return GetWindowThreadProcessId(hwnd, nullptr) != GetCurrentThreadId(); }

void CStatusDialog::EnableControl(int controlId, bool enabled) {
  EnableWindow(GetDlgItem(hwnd, controlId), enabled ? TRUE : FALSE);
}

void CStatusDialog::RunConnectRoutine() { ConnectNormalDevice(altimeter_, *this); }

void CStatusDialog::RefreshConnectionLook(bool) {}

bool CStatusDialog::BeforeCloseWait() { return true; }

const char* CStatusDialog::RepostTrace() const { return "reposting close message..."; }

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
  statusWindow_ = hwnd;
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  HidD_GetHidGuid(&filter.dbcc_classguid);
  if (!deviceNotificationSeam(hwnd, &filter)) {
    // Without them a device plugged in later is never seen: the user must know.
    TraceLog << "RegisterDeviceNotificationW failed: " << GetLastError() << std::endl;
    AppendStatus(L"Devices plugged in from now on cannot be seen. Close this window and open it again once the "
                 L"device is connected.\r\n");
  }
  RelayDeviceChangesTo(hwnd);
}

void CStatusDialog::ConnectAtOpen() {
  connection_.OnArrival();
  RefreshConnectionLook(WorkerRunning());
}

void CStatusDialog::PassToLayout(UINT message, WPARAM wParam, LPARAM lParam) {
  if (layout) layout->HandleMessage(message, wParam, lParam);
}

bool CStatusDialog::HandleStatusMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  switch (message) {
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) != GetDlgItem(hwnd, IDC_STATUS_BOX)) return false;
      SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
      result = reinterpret_cast<INT_PTR>(statusBrush);
      return true;
    case kStatusChangedMessage:
      RefreshStatusBox();
      result = TRUE;
      return true;
    case kWorkerEndedMessage:
      connection_.RunPending();
      // A device change told between the worker's last look and its end
      // refreshed as busy; this is the look once it is really over.
      RefreshConnectionLook(WorkerRunning());
      // A press that came while the worker was ending runs now.
      if (deferredCommand_ && !WorkerRunning()) {
        const WPARAM command = deferredCommand_;
        deferredCommand_ = 0;
        if (!closing_) HandleCommand(command);
      }
      result = TRUE;
      return true;
    case kShowConnectionIconMessage:
      ShowConnectionIcon(static_cast<int>(wParam));
      result = TRUE;
      return true;
    case WM_DEVICECHANGE:
      HandleDeviceChange(wParam, lParam);
      result = TRUE;
      return true;
    default:
      return false;
  }
}

void CStatusDialog::RefreshStatusBox() {
  refreshPending_ = false;
  HWND box = GetDlgItem(hwnd, IDC_STATUS_BOX);
  if (!box) return;
  // Only the new lines are added: setting the whole text again would make the
  // box lay out every line anew for each line a download adds.
  const StatusText::Change change = statusText.Since(statusShown_);
  if (!change.whole && change.text.empty()) return;
  statusShown_ = change.end;
  SendMessageW(box, WM_SETREDRAW, FALSE, 0);
  if (change.whole) {
    SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(change.text.c_str()));
  } else {
    const LRESULT end = GetWindowTextLengthW(box);
    SendMessageW(box, EM_SETSEL, end, end);
    SendMessageW(box, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(change.text.c_str()));
  }
  // To the last line; a count past the end would overflow where the box
  // has scrolled to its caret already.
  const LRESULT lines = SendMessageW(box, EM_GETLINECOUNT, 0, 0);
  const LRESULT first = SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0);
  SendMessageW(box, EM_LINESCROLL, 0, lines - first);
  SendMessageW(box, WM_SETREDRAW, TRUE, 0);
  // Redraw is not repainted by itself once it is switched back on.
  InvalidateRect(box, nullptr, TRUE);
}

void CStatusDialog::HandleDeviceChange(WPARAM event, LPARAM record) {
  DeviceNotification notification;
  if (!DecodeDeviceBroadcast(record, notification)) notification = DeviceNotification{0, std::wstring()};
  OnDeviceChange(static_cast<uint32_t>(event), notification, altimeter_, *this, connection_);
  // A change during a worker must not enable its buttons under it.
  RefreshConnectionLook(WorkerRunning());
}

void CStatusDialog::HandleCommand(WPARAM command) {
  const int id = LOWORD(command);
  // The status box changes only by the program's own appends, which are no
  // edit of the user's.
  if (id == IDC_STATUS_BOX) return;
  // Enabled, the button was pressed by the user as the worker gave the
  // buttons back; it must not be lost to the worker's last steps.
  if (WorkerRunning() && WaitsForWorker(id) && IsWindowEnabled(GetDlgItem(hwnd, id))) {
    deferredCommand_ = command;
    return;
  }
  OnCommand(command);
}

INT_PTR CStatusDialog::HandleClose() {
  if (!BeforeCloseWait()) return TRUE;
  TraceLog << "Waiting for thread to close..." << std::endl;
  if (!WaitForWorker(100)) {
    TraceLog << RepostTrace() << std::endl;
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    return TRUE;
  }
  TraceLog << "Thread has exited." << std::endl;
  // Nothing waiting runs on the way out.
  connection_.Stop();
  deferredCommand_ = 0;
  // The worker's last lines may still wait in the queue behind this close.
  RefreshStatusBox();
  AfterCloseWait();
  EndDialog(hwnd, 0);
  return TRUE;
}

void CStatusDialog::ShowConnectionIcon(int pictureId, bool post) {
  if (post) {
    PostMessageW(hwnd, kShowConnectionIconMessage, static_cast<WPARAM>(pictureId), 0);
    return;
  }
  ::ShowConnectionIcon(GetDlgItem(hwnd, pictureId), ConnectionIconId(altimeter_), false);
}

struct CStatusDialog::WorkerStart {
  CStatusDialog* dialog;
  std::function<void()> task;
};

DWORD WINAPI CStatusDialog::WorkerMain(void* argument) {
  std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(argument));
  start->task();
  // The last touch of the dialog: the thread's handle is signalled only after
  // this returns, and the dialog waits for that before it goes.
  start->dialog->connection_.WorkerEnded();
  return 0;
}

bool CStatusDialog::StartWorkerTask(std::function<void()> task) {
  if (!connection_.WorkerStarting()) return false;
  auto start = std::make_unique<WorkerStart>(WorkerStart{this, std::move(task)});
  HANDLE thread = CreateThread(nullptr, 0, &CStatusDialog::WorkerMain, start.get(), 0, nullptr);
  if (!thread) {
    connection_.WorkerEnded();
    return false;
  }
  start.release();
  // The last worker has ended (WorkerStarting said so): its handle can go.
  if (workerThread_) {
    WaitForSingleObject(workerThread_, INFINITE);
    CloseHandle(workerThread_);
  }
  workerThread_ = thread;
  return true;
}

bool CStatusDialog::WorkerRunning() const { return connection_.WorkerRunning(); }

void CStatusDialog::JoinWorker() {
  if (!workerThread_ || WaitForSingleObject(workerThread_, 0) != WAIT_TIMEOUT) return;
  // A download or emulation gives up at its next step; the rest end within
  // their own time-outs.
  altimeter_.cancelRequested = true;
  WaitForSingleObject(workerThread_, INFINITE);
}

bool CStatusDialog::WaitForWorker(DWORD ms) {
  if (!workerThread_) return true;
  // The worker sets the dialog's controls with sent messages; answer them
  // while waiting, or each would hold it until the wait is over.
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD spent = GetTickCount() - start;
    const DWORD left = spent >= ms ? 0 : ms - spent;
    const DWORD r = MsgWaitForMultipleObjects(1, &workerThread_, FALSE, left, QS_SENDMESSAGE);
    if (r == WAIT_OBJECT_0 || r == WAIT_FAILED) return true;
    if (r != WAIT_OBJECT_0 + 1) return false;
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    if (left == 0) return WaitForSingleObject(workerThread_, 0) != WAIT_TIMEOUT;
  }
}
