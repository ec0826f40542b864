// The hidapi library behind the host's table of calls. Built only where
// hidapi was found.
#ifdef ULK_HAVE_HIDAPI

#include <hidapi.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "device/HidHostHidapi.h"

namespace {

bool Enumerate(void*, uint16_t vendorId, std::vector<HidapiDeviceRecord>& devices) {
  static std::once_flag started;
  static bool ok = false;
  std::call_once(started, [] { ok = hid_init() == 0; });
  if (!ok) return false;
  devices.clear();
  hid_device_info* list = hid_enumerate(vendorId, 0);
  for (hid_device_info* d = list; d != nullptr; d = d->next) {
    if (d->path == nullptr) continue;
    devices.push_back(HidapiDeviceRecord{d->path, d->vendor_id, d->product_id, d->release_number});
  }
  hid_free_enumeration(list);
  return true;
}

HidapiDevice OpenPath(void*, const std::string& path, int& error) {
  hid_device* device = hid_open_path(path.c_str());
  if (device != nullptr) return device;
  // hidapi keeps only a message; ask the file system why.
  error = access(path.c_str(), R_OK | W_OK) != 0 ? errno : EIO;
  return nullptr;
}

void Close(void*, HidapiDevice device) { hid_close(static_cast<hid_device*>(device)); }

int Write(void*, HidapiDevice device, const uint8_t* data, size_t length) {
  return hid_write(static_cast<hid_device*>(device), data, length);
}

int ReadTimeout(void*, HidapiDevice device, uint8_t* data, size_t length, int milliseconds) {
  return hid_read_timeout(static_cast<hid_device*>(device), data, length, milliseconds);
}

}  // namespace

HidapiCalls HidapiLibraryCalls() {
  HidapiCalls calls;
  calls.enumerate = Enumerate;
  calls.openPath = OpenPath;
  calls.close = Close;
  calls.write = Write;
  calls.readTimeout = ReadTimeout;
  calls.lockNode = [](void*, const std::string& path, int& error) { return LockNodeFile(path, error); };
#ifdef ULK_HIDAPI_HIDRAW
  calls.inputRingReports = 64;  // the kernel's HIDRAW_BUFFER_SIZE
#endif
  return calls;
}

#endif
