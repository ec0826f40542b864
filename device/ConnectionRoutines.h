// The connect routines that every device dialog runs when it opens and when a
// HID device arrives, the handling of arrival and removal, and the guard that
// keeps them off the channel while a worker uses it. Portable: the dialogs
// give a status sink and do their own look refresh.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "device/Altimeter.h"

// Where the routines' status lines go: wide text, each line ending in "\r\n".
// A dialog's AppendStatus, or ulktool's standard error.
class StatusSink {
 public:
  virtual ~StatusSink() = default;
  virtual void AppendStatus(const std::wstring& line) = 0;
};

// The download, settings and control options dialogs' routine: connects to the
// application firmware and sends a compatible bootloader back to it. Answers
// the first Connect's result (Connected: the channel is open to the firmware).
ConnectResult ConnectNormalDevice(CAltimeter& altimeter, StatusSink& status);

// The update dialog's routine: connects to the bootloader and sends an
// application firmware into it. Answers the first Connect's result.
ConnectResult ConnectBootloaderDevice(CAltimeter& altimeter, StatusSink& status);

// The connection icon that the dialogs show: 110 while the channel is open, else 109.
int ConnectionIconId(const CAltimeter& altimeter);

#ifdef _WIN32
struct HWND__;
// Puts that icon, at 48 x 48, into a dialog's icon control (STM_SETIMAGE). The
// icons are shared: the control never owns them. post: PostMessageW, for a
// worker that must not wait for the dialog thread; else SendMessageW.
void ShowConnectionIcon(HWND__* iconControl, int iconId, bool post);
#endif

// Runs a dialog's connect routine on an arrival and closes the channel when the
// connected device is removed, but never while a worker of the dialog is using
// the channel: then the work waits until the worker ends and runs once, on the
// dialog thread. A worker never starts while a connect or close runs, so the
// channel and its identity have one user at a time. Every device dialog owns
// one; its workers report their start and end.
class ConnectionGuard {
 public:
  using Action = std::function<void()>;
  // connect: the dialog's connect routine. refresh: the dialog's look refresh,
  // run after deferred work. wake: called on the ending worker's thread at
  // every worker end; it asks the dialog thread to call RunPending (a posted
  // message) and to refresh its look.
  ConnectionGuard(CAltimeter& altimeter, Action connect, Action refresh = {}, Action wake = {});
  ConnectionGuard(const ConnectionGuard&) = delete;
  ConnectionGuard& operator=(const ConnectionGuard&) = delete;

  // On the dialog thread, before a worker is started: takes the channel for it.
  // False, and nothing changes, while a worker or a connect routine has it or
  // the guard is stopped.
  bool WorkerStarting();
  // As the worker's last step, after its last use of the channel. Never runs
  // the waiting work itself: it wakes the dialog thread.
  void WorkerEnded();
  bool WorkerRunning() const;
  // A connect routine or close of this guard is under way.
  bool RoutineRunning() const;

  // On the dialog thread. True when the work ran at once, false when it waits
  // for the worker (or the guard is stopped). Repeated events while waiting run
  // it once; a waiting connect also covers a removal, since Connect closes first.
  bool OnArrival();
  bool OnRemoval();
  // The removal of the connected device waits for the worker to end.
  bool RemovalPending() const;
  // On the dialog thread: runs the work that waited for a worker, then the
  // refresh. Nothing when none waits or a worker has the channel again.
  void RunPending();

  // The dialog is ending: nothing waiting or new runs any more.
  void Stop();

 private:
  enum class Work { None, Close, Connect };
  bool Request(Work work);
  // Runs waiting work until none is left or a worker has the channel; true when any ran.
  bool RunWaiting();
  void Run(Work work);

  CAltimeter& altimeter_;
  Action connect_;
  Action refresh_;
  Action wake_;
  mutable std::mutex mutex_;
  bool workerRunning_ = false;
  bool running_ = false;  // a connect or close of this guard is under way
  bool stopped_ = false;
  Work pending_ = Work::None;
};

// WM_DEVICECHANGE's portable part: the trace line, the connect routine on an
// arrival, and on the removal of the connected device its line and the channel
// closed, both through the guard. An arrival while the connected device is
// still there (a mouse, a keyboard, a headset plugged in) changes nothing:
// reconnecting would read the settings again over what the user typed. The
// dialog then refreshes its look and answers 1.
void OnDeviceChange(uint32_t event, const DeviceNotification& notification, CAltimeter& altimeter,
                    StatusSink& status, ConnectionGuard& guard);
