// The dialog framework that every modal dialog of the program shares: the
// class root and the one dialog procedure, the skinned look, the resize
// layout, the status box, message boxes, workers and the close protocol.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "app/DialogLayout.h"
#include "app/StatusText.h"
#include "device/ConnectionRoutines.h"
#include "device/HidHost.h"
#include "device/TaskHost.h"

// The status box's refresh request, posted by AppendStatus.
constexpr UINT kStatusChangedMessage = WM_USER + 1;
// A simulated or external device's arrival or removal, relayed to the dialog thread.
constexpr UINT kRelayedDeviceChangeMessage = WM_APP + 0x100;
// A worker ended: the dialog thread runs a reconnect that waited for it and
// refreshes the look.
constexpr UINT kWorkerEndedMessage = WM_APP + 0x101;
// A worker asks for the connection icon (wParam: the picture control); the
// dialog thread picks it when it gets there, so it is never a stale one.
constexpr UINT kShowConnectionIconMessage = WM_APP + 0x102;


class CDialogWindow {
 public:
  virtual INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
  virtual ~CDialogWindow() = default;
};

struct GroupBoxRecord {
  HWND window = nullptr;
  std::wstring caption;
};

class ControlAnchor {
 public:
  ControlAnchor(HWND control, AnchorFlags anchors);

  HWND control;
  HWND parent;
  AnchorGeometry geometry;
};

class DialogLayout {
 public:
  // The minimum track size is usually the dialog's outer size as it opened.
  DialogLayout(HWND dialog, int32_t minTrackWidth, int32_t minTrackHeight, int32_t maxTrackWidth = 0,
               int32_t maxTrackHeight = 0);

  void AddAnchor(HWND control, AnchorFlags anchors);
  void AddAnchor(int controlId, AnchorFlags anchors);
  // WM_SIZE moves the anchored controls, WM_GETMINMAXINFO sets the limits.
  void HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  HWND dialog;
  TrackSize minTrack;
  TrackSize maxTrack;
  std::vector<ControlAnchor> anchors;
};

class CBaseWindow : public CDialogWindow {
 public:
  explicit CBaseWindow(uint32_t templateId);
  ~CBaseWindow() override;
  CBaseWindow(const CBaseWindow&) = delete;
  CBaseWindow& operator=(const CBaseWindow&) = delete;

  // The handling every dialog falls back to: background, group boxes, control colours.
  INT_PTR HandleSkinMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // Replaces the group box with that id by an owner-drawn static; answers the new window.
  HWND MakeOwnerDrawnGroupBox(int controlId);

  // The outer window rectangle's size.
  int32_t WindowWidth() const;
  int32_t WindowHeight() const;

  uint32_t templateId;
  HWND hwnd = nullptr;
  std::vector<std::unique_ptr<GroupBoxRecord>> groupBoxes;
  HBRUSH backgroundBrush;

 private:
  // The background as GDI+ takes it, from the brush the dialog gives for WM_CTLCOLORDLG.
  uint32_t BackgroundArgb();
  void DrawGroupBox(const DRAWITEMSTRUCT& item, const GroupBoxRecord& box);
};

// What each dialog adds to CBaseWindow: the layout, the status box and its
// text, one worker at a time, the connection guard, the close protocol and the
// routing of messages. It is the TaskHost of the device operations that its
// workers run, and the status sink of the connection routines.
//
// HandleMessage is written here once: the layout sees every message first;
// WM_INITDIALOG, WM_CLOSE and WM_COMMAND go to the dialog's handlers; the
// status box, workers and device changes are the framework's; the rest goes to
// OnOtherMessage and then to the skin. A derived destructor calls JoinWorker
// first, so no worker outlives a member of the derived dialog.
class CStatusDialog : public CBaseWindow, public TaskHost {
 public:
  // The altimeter is the program's one object; tests give their own.
  explicit CStatusDialog(uint32_t templateId, CAltimeter& altimeter = Altimeter());
  ~CStatusDialog() override;

  INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

  // --- the TaskHost of the dialog's workers (any thread)

  // Every kind of line goes to the status box.
  void AppendLine(LineKind kind, const std::wstring& line) override;
  using TaskHost::AppendStatus;
  // A message box from the string table, owned by the dialog.
  TaskAnswer Ask(uint32_t stringId, uint32_t style) override;
  // RefreshConnectionLook.
  void ShowBusy(bool busy) override;
  // The main window's plot.
  void RequestRedraw() override;

  // --- what each device dialog gives

  // WM_INITDIALOG and WM_COMMAND (the whole wParam).
  virtual void OnInitDialog() = 0;
  virtual void OnCommand(WPARAM command) = 0;
  // A command that cannot run beside a worker: pressed while one is ending, it
  // runs once the worker has ended instead of being lost.
  virtual bool WaitsForWorker(int /*controlId*/) const { return false; }
  // Messages of its own that the framework does not handle; true when handled.
  virtual bool OnOtherMessage(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/, INT_PTR& /*result*/) {
    return false;
  }
  // Its connect routine: ConnectNormalDevice unless it says otherwise.
  virtual void RunConnectRoutine();
  // Its connection icon and button states; busy while its worker runs.
  virtual void RefreshConnectionLook(bool busy);
  // Its own steps of WM_CLOSE before the wait for the worker (set closing,
  // cancelRequested, trace). False refuses the close: nothing else happens.
  virtual bool BeforeCloseWait();
  // What it does between the end of the wait and the end of the dialog.
  virtual void AfterCloseWait() {}
  // The trace line when the close is posted again.
  virtual const char* RepostTrace() const;
  // Escape (WM_KEYDOWN of VK_ESCAPE) closes the dialog.
  virtual bool ClosesOnEscape() const { return false; }

  // A running worker, whatever it does.
  bool WorkerRunning() const;

 protected:
  CAltimeter& Device() const { return altimeter_; }
  // The user has begun to close the dialog: its look and device changes freeze.
  bool Closing() const { return closing_; }
  void MarkClosing() { closing_ = true; }
  // A running download or emulation gives up at its next step.
  void RequestCancel() { altimeter_.cancelRequested = true; }
  HANDLE WorkerHandle() const { return workerThread_; }
  // True on a thread other than the dialog's (a worker).
  bool OnWorkerThread() const;

  // --- initialisation

  // WM_INITDIALOG's first step: the layout at the dialog's opening size.
  void MakeLayout();
  // An anchor for a control, or for a group box turned owner-drawn first.
  void Anchor(int controlId, AnchorFlags anchors);
  void AnchorGroupBox(int controlId, AnchorFlags anchors);
  // Device-interface notifications of the HID class for this dialog; simulated
  // and external devices are relayed to it as WM_DEVICECHANGE too.
  void RegisterDeviceNotifications();
  // The connect routine through the guard, then the look (not busy).
  void ConnectAtOpen();

 public:
  // How RegisterDeviceNotifications asks the system; tests put a failing one in place.
  using RegisterSeam = bool (*)(HWND window, void* filter);
  static RegisterSeam deviceNotificationSeam;

 protected:

  // --- messages

  void RefreshStatusBox();
  // The connection icon of RefreshConnectionLook in a picture control. post:
  // from a worker, which must not wait for the dialog thread; the icon is then
  // chosen when the dialog thread handles the request.
  void ShowConnectionIcon(int pictureId, bool post = false);
  void EnableControl(int controlId, bool enabled);

  // --- workers

  // Runs (dialog.*task)() on a new thread, where dialog is this object as its
  // own class. Refused (false, nothing starts) while a worker runs, a connect
  // routine runs or the dialog is ending. On the dialog thread only.
  template <class Dialog>
  bool StartWorker(void (Dialog::*task)()) {
    static_assert(std::is_base_of_v<CStatusDialog, Dialog>);
    Dialog* self = static_cast<Dialog*>(this);
    return StartWorkerTask([self, task] { (self->*task)(); });
  }
  bool StartWorkerTask(std::function<void()> task);
  // Waits for a running worker to end (asking a download or emulation to stop
  // first). The first step of every derived destructor.
  void JoinWorker();
  // Up to ms for the worker to end, answering the messages it sends the
  // dialog meanwhile; true when it has ended or there is none.
  bool WaitForWorker(DWORD ms);

 private:
  struct WorkerStart;
  static DWORD WINAPI WorkerMain(void* start);

  // The layout sees every message first.
  void PassToLayout(UINT message, WPARAM wParam, LPARAM lParam);
  // The status box's colour and refresh, a worker's end, a worker's icon
  // request, and WM_DEVICECHANGE. True when the message was handled.
  bool HandleStatusMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);
  // WM_DEVICECHANGE: decodes the record and runs OnDeviceChange through the
  // guard, then refreshes the look (busy while a worker runs).
  void HandleDeviceChange(WPARAM event, LPARAM record);
  // WM_COMMAND: at once, or after the running worker when it waits for it.
  void HandleCommand(WPARAM command);
  // WM_CLOSE: the dialog's own steps, then the close protocol: waits up to
  // 100 ms for the worker; ends the dialog when it has ended, otherwise posts
  // WM_CLOSE again. Answers TRUE.
  INT_PTR HandleClose();

  CAltimeter& altimeter_;
  HANDLE workerThread_ = nullptr;
  std::atomic<bool> closing_{false};
  // How much of statusText the status box shows (StatusText::Change::end).
  uint64_t statusShown_ = 0;
  // A press that waits for the running worker to end (its whole wParam); 0: none.
  WPARAM deferredCommand_ = 0;

 protected:
  std::unique_ptr<DialogLayout> layout;
  HBRUSH statusBrush;
  StatusText statusText;

 private:
  ConnectionGuard connection_;
  // Where AppendStatus posts; set once the window exists, read by workers.
  std::atomic<HWND> statusWindow_{nullptr};
  std::atomic<bool> refreshPending_{false};
};

// The dialog procedure of every dialog; the creation parameter is the CBaseWindow.
INT_PTR CALLBACK DialogRouterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Runs a dialog modally from its template; answers DialogBoxParamW's result.
INT_PTR RunDialog(CBaseWindow& dialog, HWND owner);

// The window class that every dialog template names.
bool RegisterDialogClass(HINSTANCE instance);
void UnregisterDialogClass(HINSTANCE instance);

// A message box with a text from the string table and the program's title.
// Answers the button chosen (IDYES, IDNO, IDOK).
int ShowMessage(HWND owner, UINT stringId, UINT style);

// What shows a message: by default MessageBoxW. Tests put their own in place,
// to see which string was asked for and to answer it. Answers the old one.
using MessageSeam = std::function<int(HWND owner, UINT stringId, const std::wstring& text, UINT style)>;
MessageSeam SetMessageSeam(MessageSeam seam);

// Reads the device-interface notification of a WM_DEVICECHANGE; false when
// lParam is not one (another device type, or no record at all).
bool DecodeDeviceBroadcast(LPARAM lParam, DeviceNotification& notification);

// Simulated and external devices tell their arrivals and removals through the
// host's sink; these reach the dialog window as kRelayedDeviceChangeMessage,
// which DialogRouterProc turns into WM_DEVICECHANGE with a real
// DEV_BROADCAST_DEVICEINTERFACE_W record.
void RelayDeviceChangesTo(HWND dialog);
void StopRelayingDeviceChanges(HWND dialog);
// The oldest relayed change waiting for that dialog; false when none waits.
bool TakeRelayedDeviceChange(HWND dialog, uint32_t& event, DeviceNotification& notification);
// A DEV_BROADCAST_DEVICEINTERFACE_W record (HID class) for a notification.
std::vector<unsigned char> MakeDeviceBroadcast(const DeviceNotification& notification);
