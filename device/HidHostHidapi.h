// The real HID off Windows, over hidapi (hidraw on Linux). The host never calls
// hidapi itself: every call goes through a small table, so tests can put
// scripted devices in its place and the host's logic is built and tested even
// where hidapi is not installed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/HidHost.h"

// One record of hid_enumerate, as the host keeps it.
struct HidapiDeviceRecord {
  std::string path;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t releaseNumber = 0;  // bcdDevice: what HidD_GetAttributes calls the version number
};

using HidapiDevice = void*;  // a hid_device*

struct HidapiCalls {
  void* context = nullptr;
  // hid_enumerate(vendorId, 0), copied out and freed; false when it failed.
  bool (*enumerate)(void* context, uint16_t vendorId, std::vector<HidapiDeviceRecord>& devices) = nullptr;
  // hid_open_path; null on failure with an errno value in error (EACCES when
  // the node is there but this user may not open it).
  HidapiDevice (*openPath)(void* context, const std::string& path, int& error) = nullptr;
  void (*close)(void* context, HidapiDevice device) = nullptr;
  // hid_write: the report id is the first byte. Bytes written, or -1.
  int (*write)(void* context, HidapiDevice device, const uint8_t* data, size_t length) = nullptr;
  // hid_read_timeout: bytes read, 0 on time-out, -1 on failure (a device gone).
  int (*readTimeout)(void* context, HidapiDevice device, uint8_t* data, size_t length, int milliseconds) = nullptr;
};

struct HidapiHostOptions {
  // Where the per-device lock files live; empty = /run/lock, else the temp folder.
  std::string lockDir;
  // How often the enumeration thread looks for arrivals and removals.
  uint32_t pollMs = 250;
};

std::shared_ptr<HidHost> MakeHidapiHost(const HidapiCalls& calls, const HidapiHostOptions& options = {});

#ifdef ULK_HAVE_HIDAPI
// The table over the hidapi library this program was linked with.
HidapiCalls HidapiLibraryCalls();
#endif

// For a search of the real bus that found nothing: a line that names the host
// that looked, or the permission that is missing when a flight computer's node
// could not be opened. Empty where there is nothing useful to say.
std::string EmptyBusNote(HidHost& host);
