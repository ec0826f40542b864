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
  // An exclusive lock on the node itself, not waited for: a descriptor that
  // holds it until closed, or -1 with an errno value in error (EWOULDBLOCK
  // while another program holds it). Null: devices are opened unguarded.
  int (*lockNode)(void* context, const std::string& path, int& error) = nullptr;
  // The unread input reports the driver keeps for each open device (hidraw:
  // 64); 0 when not known. hidapi has no call to change it.
  uint32_t inputRingReports = 0;
};

struct HidapiHostOptions {
  // How often the enumeration thread looks for arrivals and removals.
  uint32_t pollMs = 250;
};

std::shared_ptr<HidHost> MakeHidapiHost(const HidapiCalls& calls, const HidapiHostOptions& options = {});

// flock(LOCK_EX | LOCK_NB) on a descriptor of path's own, as lockNode answers.
// hidraw has no share modes; the lock on the node is seen by every user who
// may open it, whatever their lock folders, and cannot be held by one who may not.
int LockNodeFile(const std::string& path, int& error);

#ifdef ULK_HAVE_HIDAPI
// The table over the hidapi library this program was linked with.
HidapiCalls HidapiLibraryCalls();
#endif

// For a search of the real bus that found nothing: a line that names the host
// that looked, or the node it could not open and why. Empty where there is
// nothing useful to say.
std::string EmptyBusNote(HidHost& host);

// A flight computer's node that is there but that this user may not open
// (EACCES or EPERM): on Linux most often a udev rule not installed yet.
struct DeniedHidNode {
  std::string path;
  uint16_t productId = 0;
  int error = 0;
};

// True, with the node, when the last search of the bus through host found a
// flight computer (application or bootloader) that it was not allowed to open.
bool FindDeniedNode(HidHost& host, DeniedHidNode& node);

// The lines that tell such a node and how to give this user access to it,
// each ending in a line feed; empty when the last search was refused nothing.
std::string DeniedNodeAdvice(HidHost& host);
