// Simulated and external devices tell arrivals and removals through the HID
// host's sink, on whatever thread they notice them. The dialogs must see them
// as WM_DEVICECHANGE on their own thread, exactly as real devices arrive.
#include <windows.h>
// windows.h first: dbt.h and the HID header need its types.
#include <dbt.h>
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <deque>
#include <mutex>

#include "app/DialogWindow.h"

namespace {

struct Relay {
  std::mutex mutex;
  HWND target = nullptr;
  std::deque<std::pair<uint32_t, DeviceNotification>> waiting;
};

Relay& TheRelay() {
  static Relay relay;
  return relay;
}

void OnHostDeviceChange(uint32_t event, const DeviceNotification& notification) {
  Relay& relay = TheRelay();
  std::lock_guard<std::mutex> lock(relay.mutex);
  if (!relay.target) return;
  relay.waiting.emplace_back(event, notification);
  PostMessageW(relay.target, kRelayedDeviceChangeMessage, 0, 0);
}

}  // namespace

void RelayDeviceChangesTo(HWND dialog) {
  {
    Relay& relay = TheRelay();
    std::lock_guard<std::mutex> lock(relay.mutex);
    relay.target = dialog;
    relay.waiting.clear();
  }
  CurrentHidHost().SetDeviceChangeSink(OnHostDeviceChange);
}

void StopRelayingDeviceChanges(HWND dialog) {
  Relay& relay = TheRelay();
  std::lock_guard<std::mutex> lock(relay.mutex);
  if (relay.target != dialog) return;
  relay.target = nullptr;
  relay.waiting.clear();
}

bool TakeRelayedDeviceChange(HWND dialog, uint32_t& event, DeviceNotification& notification) {
  Relay& relay = TheRelay();
  std::lock_guard<std::mutex> lock(relay.mutex);
  if (relay.target != dialog || relay.waiting.empty()) return false;
  event = relay.waiting.front().first;
  notification = std::move(relay.waiting.front().second);
  relay.waiting.pop_front();
  return true;
}

std::vector<unsigned char> MakeDeviceBroadcast(const DeviceNotification& notification) {
  const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  const size_t size = std::max(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W),
                               nameOffset + (notification.name.size() + 1) * sizeof(wchar_t));
  std::vector<unsigned char> record(size, 0);
  auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(record.data());
  broadcast->dbcc_size = static_cast<DWORD>(size);
  broadcast->dbcc_devicetype = notification.deviceType;
  HidD_GetHidGuid(&broadcast->dbcc_classguid);
  std::memcpy(record.data() + nameOffset, notification.name.c_str(), notification.name.size() * sizeof(wchar_t));
  return record;
}

bool DecodeDeviceBroadcast(LPARAM lParam, DeviceNotification& notification) {
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
  if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return false;
  const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  if (header->dbch_size < nameOffset) return false;
  const auto* broadcast = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
  // The name ends at its terminator or at the record's end, whichever comes first.
  const size_t room = (header->dbch_size - nameOffset) / sizeof(wchar_t);
  size_t length = 0;
  while (length < room && broadcast->dbcc_name[length] != L'\0') ++length;
  notification.deviceType = header->dbch_devicetype;
  notification.name.assign(broadcast->dbcc_name, length);
  return true;
}
