#include "device/ConnectionRoutines.h"

#include <utility>

#include "device/TraceLog.h"
#include "resources/resource.h"

namespace {

const wchar_t kPleaseEnsure[] =
    L"Please ensure it is not being used by another application.\r\n"
    L"Removing the device and re-attaching it should correct this.\r\n";

// The mode change was asked for; whether the channel took the request shows
// when the device arrives in the other mode.
void SendIntoBootloader(CAltimeter& altimeter) { altimeter.EnterBootloader(); }

}  // namespace

ConnectResult ConnectNormalDevice(CAltimeter& altimeter, StatusSink& status) {
  uint16_t version = 0;
  const ConnectResult result = altimeter.Connect(&version, false);
  switch (result) {
    case CannotOpen:
      status.AppendStatus(std::wstring(L"Device found. Unable to connect to device.\r\n") + kPleaseEnsure);
      break;
    case NotFound:
      altimeter.Connect(&version, true);
      if (altimeter.IsOpen() && altimeter.bootloaderMode) {
        altimeter.Close();
        altimeter.cancelRequested = false;
        altimeter.bootloaderMode = false;
        status.AppendStatus(L"Device found, but is in bootloader mode.\r\n");
        // Opens the bootloader itself; its arrival in normal mode reconnects.
        altimeter.LeaveBootloader();
      } else {
        status.AppendStatus(L"Device not found.\r\n");
      }
      break;
    case IncompatibleVersion:
      status.AppendStatus(L"Device found, but has incompatible firmware version.\r\n");
      status.AppendStatus(L"Current device firmware version: " + FormatVersion(version) + L"\r\n");
      status.AppendStatus(L"Required device firmware version: " + FormatVersion(kRequiredVersion) + L"\r\n");
      break;
    case Connected:
      status.AppendStatus(L"Device Connected.\r\n");
      status.AppendStatus(L"Current device firmware version: " + FormatVersion(version) + L"\r\n");
      break;
  }
  return result;
}

ConnectResult ConnectBootloaderDevice(CAltimeter& altimeter, StatusSink& status) {
  uint16_t version = 0;
  const ConnectResult result = altimeter.Connect(&version, true);
  switch (result) {
    case CannotOpen:
      status.AppendStatus(std::wstring(L"Device found in bootloader mode. Unable to connect to device.\r\n") +
                          kPleaseEnsure);
      break;
    case IncompatibleVersion:
      status.AppendStatus(L"Device found in bootloader mode, but has incompatible bootloader version.\r\n");
      status.AppendStatus(L"Current device bootloader version: " + FormatVersion(version) + L"\r\n");
      status.AppendStatus(L"Required device bootloader version: " + FormatVersion(kRequiredVersion) + L"\r\n");
      break;
    case Connected:
      status.AppendStatus(L"Device connected in bootloader mode.\r\n");
      status.AppendStatus(L"Device bootloader version: " + FormatVersion(version) + L"\r\n");
      break;
    case NotFound: {
      const ConnectResult second = altimeter.Connect(&version, false);
      if (second == IncompatibleVersion && altimeter.bootloaderMode) {
        // Left over from a bootloader that is gone: forget it quietly.
        altimeter.Close();
        altimeter.cancelRequested = false;
        altimeter.bootloaderMode = false;
      } else if (second == IncompatibleVersion) {
        status.AppendStatus(L"Device found, but is not in bootloader mode.\r\n");
        // Connect leaves an incompatible firmware closed and unassigned; open
        // it just for the request, since an old firmware is what gets updated.
        std::vector<CHidDevice> present = CHidDevice::FindDevices(kApplicationProductId, 0, 0);
        if (!present.empty()) {
          altimeter.AssignDevice(present.front());
          if (altimeter.Open()) SendIntoBootloader(altimeter);
          altimeter.Close();
        }
      } else if (altimeter.IsOpen() && !altimeter.bootloaderMode) {
        status.AppendStatus(L"Device found, but is not in bootloader mode.\r\n");
        // The channel stays open until the device's removal closes it.
        SendIntoBootloader(altimeter);
      } else {
        status.AppendStatus(L"Device not found.\r\n");
      }
      break;
    }
  }
  return result;
}

int ConnectionIconId(const CAltimeter& altimeter) { return altimeter.IsOpen() ? IDI_CONNECTED : IDI_NOT_CONNECTED; }

ConnectionGuard::ConnectionGuard(CAltimeter& altimeter, Action connect, Action refresh, Action wake)
    : altimeter_(altimeter), connect_(std::move(connect)), refresh_(std::move(refresh)), wake_(std::move(wake)) {}

bool ConnectionGuard::WorkerStarting() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (workerRunning_ || running_ || stopped_) return false;
  workerRunning_ = true;
  return true;
}

void ConnectionGuard::WorkerEnded() {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    workerRunning_ = false;
    wake = !stopped_;
  }
  if (wake && wake_) wake_();
}

bool ConnectionGuard::WorkerRunning() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return workerRunning_;
}

bool ConnectionGuard::RoutineRunning() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

bool ConnectionGuard::OnArrival() { return Request(Work::Connect); }

bool ConnectionGuard::OnRemoval() { return Request(Work::Close); }

void ConnectionGuard::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = true;
  pending_ = Work::None;
}

bool ConnectionGuard::Request(Work work) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return false;
    // A worker has the channel, or a routine is under way further up this
    // thread (a message box inside it pumps messages): wait for it.
    if (workerRunning_ || running_) {
      if (work > pending_) pending_ = work;
      return false;
    }
    running_ = true;
  }
  Run(work);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
  }
  // Events told while it ran; the caller refreshes after this anyway.
  RunWaiting();
  return true;
}

bool ConnectionGuard::RemovalPending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pending_ == Work::Close;
}

void ConnectionGuard::RunPending() {
  if (RunWaiting() && refresh_) refresh_();
}

bool ConnectionGuard::RunWaiting() {
  bool ran = false;
  for (;;) {
    Work work;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (pending_ == Work::None || workerRunning_ || running_ || stopped_) break;
      work = pending_;
      pending_ = Work::None;
      running_ = true;
    }
    Run(work);
    ran = true;
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
  }
  return ran;
}

void ConnectionGuard::Run(Work work) {
  if (work == Work::Connect) {
    if (connect_) connect_();
  } else if (work == Work::Close) {
    altimeter_.Close();
  }
}

void OnDeviceChange(uint32_t event, const DeviceNotification& notification, CAltimeter& altimeter,
                    StatusSink& status, ConnectionGuard& guard) {
  TraceLog << "Device Change." << std::endl;
  if (event == kDeviceArrival) {
    // Any HID arrival may be the device coming back in another mode, once the
    // one connected has gone; while it is there, the arrival is another device's.
    if (altimeter.IsOpen() && !guard.RemovalPending()) {
      TraceLog << "Another device arrived; the connected one stays." << std::endl;
      return;
    }
    guard.OnArrival();
  } else if (event == kDeviceRemoveComplete) {
    if (altimeter.MatchesNotification(notification)) {
      status.AppendStatus(L"Device disconnected.\r\n");
      guard.OnRemoval();
    }
  }
}
