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

constexpr int kStatusBoxId = 1003;
constexpr int kCloseButtonId = 1004;

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
// text, one worker at a time, the connection guard and the close protocol. It
// is the status sink of the connection routines.
//
// A dialog's HandleMessage passes every message to PassToLayout first, sends
// WM_CLOSE to HandleClose, and lets HandleStatusMessage try the rest before its
// own default. Its destructor calls JoinWorker first, so no worker outlives a
// member of the derived dialog.
class CStatusDialog : public CBaseWindow, public StatusSink {
 public:
  // The altimeter is the program's one object; tests give their own.
  explicit CStatusDialog(uint32_t templateId, CAltimeter& altimeter = Altimeter());
  ~CStatusDialog() override;

  // Callable from any thread.
  void AppendStatus(const std::wstring& line) override;

  // --- what each device dialog gives

  // Its connect routine: ConnectNormalDevice unless it says otherwise.
  virtual void RunConnectRoutine();
  // Its connection icon and button states; busy while its worker runs.
  virtual void RefreshConnectionLook(bool busy);
  // Its own steps of WM_CLOSE before the wait for the worker (set closing,
  // cancelRequested, trace). False refuses the close: nothing else happens.
  virtual bool BeforeCloseWait();
  // The trace line when the close is posted again.
  virtual const char* RepostTrace() const;

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

  // --- messages

  // The layout sees every message first.
  void PassToLayout(UINT message, WPARAM wParam, LPARAM lParam);
  // The status box's colour and refresh, a worker's end, a worker's icon
  // request, and WM_DEVICECHANGE. True when the message was handled.
  bool HandleStatusMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);
  void RefreshStatusBox();
  // WM_DEVICECHANGE: decodes the record and runs OnDeviceChange through the
  // guard, then refreshes the look (busy while a worker runs).
  void HandleDeviceChange(WPARAM event, LPARAM record);
  // WM_CLOSE: the dialog's own steps, then the close protocol.
  INT_PTR HandleClose();
  // The connection icon of RefreshConnectionLook in a picture control. post:
  // from a worker, which must not wait for the dialog thread; the icon is then
  // chosen when the dialog thread handles the request.
  void ShowConnectionIcon(int pictureId, bool post = false);

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
  bool WorkerRunning() const;
  // Waits for a running worker to end (asking a download or emulation to stop
  // first). The first step of every derived destructor.
  void JoinWorker();
  // A device worker's check before it talks to the device: false, with the
  // line that tells the user, when the channel is not open.
  bool DeviceConnected();
  // Waits up to 100 ms for the worker: ends the dialog when it has ended,
  // otherwise posts WM_CLOSE again. Answers TRUE.
  INT_PTR RunCloseProtocol(const char* repostTrace = "reposting close message...");
  // Up to ms for the worker to end, answering the messages it sends the
  // dialog meanwhile; true when it has ended or there is none.
  bool WaitForWorker(DWORD ms);

  CAltimeter& altimeter;
  std::unique_ptr<DialogLayout> layout;
  HBRUSH statusBrush;
  HANDLE workerThread = nullptr;
  StatusText statusText;
  std::atomic<bool> closing{false};
  ConnectionGuard connection;

 private:
  struct WorkerStart;
  static DWORD WINAPI WorkerMain(void* start);

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
