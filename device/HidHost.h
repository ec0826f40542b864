// The operating system's HID services, as the channel uses them: walk the HID
// interface paths, open a path with an access and share mode, read the HID
// attributes of a handle, move one report in or out with a time-out, close,
// and tell of device arrival and removal. The protocol code above this seam is
// written once; a host is the Win32 one, the simulator, or an external process.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Opaque handles with the values Win32 uses: a HANDLE, INVALID_HANDLE_VALUE.
using HidHandle = void*;
inline HidHandle const kInvalidHidHandle = reinterpret_cast<HidHandle>(static_cast<intptr_t>(-1));
using HidEvent = void*;

// CreateFileW's access and share flags.
constexpr uint32_t kNoAccess = 0;
constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kShareRead = 0x1;
constexpr uint32_t kShareWrite = 0x2;

struct HidAttributes {
  uint32_t size = 12;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t versionNumber = 0;
};

// The channel's one transfer record: offsets (always 0) and the event that a
// completed transfer signals.
struct HidOverlapped {
  uint32_t offset = 0;
  uint32_t offsetHigh = 0;
  HidEvent event = nullptr;
};

// WM_DEVICECHANGE's events and device type, and the part of the notification
// record that the program reads.
constexpr uint32_t kDeviceArrival = 0x8000;
constexpr uint32_t kDeviceRemoveComplete = 0x8004;
constexpr uint32_t kDevTypDeviceInterface = 5;

struct DeviceNotification {
  uint32_t deviceType = kDevTypDeviceInterface;
  std::wstring name;
};

using DeviceChangeSink = std::function<void(uint32_t event, const DeviceNotification& notification)>;

class HidHost {
 public:
  virtual ~HidHost() = default;

  // Path of HID interface number index among the present ones; false past the last.
  virtual bool InterfacePath(uint32_t index, std::wstring& path) = 0;
  // CreateFileW(path, access, share, OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0).
  virtual HidHandle OpenPath(const std::wstring& path, uint32_t access, uint32_t share, bool overlapped) = 0;
  virtual void CloseHandle(HidHandle handle) = 0;
  virtual bool GetAttributes(HidHandle handle, HidAttributes& attributes) = 0;

  // A manual-reset event, initially signalled.
  virtual HidEvent CreateIoEvent() = 0;
  virtual void CloseIoEvent(HidEvent event) = 0;

  // One overlapped transfer of length bytes through record, waiting at most
  // timeoutMs; true exactly when it completed in time. A transfer that timed
  // out is cancelled before this returns, so a late completion never lands in
  // the caller's buffer.
  virtual bool ReadReport(HidHandle handle, uint8_t* buffer, uint32_t length, HidOverlapped& record,
                          uint32_t timeoutMs) = 0;
  virtual bool WriteReport(HidHandle handle, const uint8_t* buffer, uint32_t length, HidOverlapped& record,
                           uint32_t timeoutMs) = 0;

  // Raises the number of unread input reports the driver keeps for a read
  // handle (HidD_SetNumInputBuffers on Windows: 32 by default, at most 512).
  // False when the host cannot; the channel works on either way.
  virtual bool SetInputRingSize(HidHandle handle, uint32_t reports) {
    (void)handle;
    (void)reports;
    return false;
  }

  // Sleep on the host's clock (the simulator's is virtual).
  virtual void Sleep(uint32_t ms) = 0;

  // Arrivals and removals of HID interfaces are told to the sink, on whatever
  // thread the host notices them. An empty sink stops the telling.
  virtual void SetDeviceChangeSink(DeviceChangeSink sink) = 0;
};

// The host that the program's channel uses. Chosen once at start-up from a
// device spec (ULKUSB_DEVICE or ulktool --device); tests install their own.
HidHost& CurrentHidHost();
void InstallHidHost(std::shared_ptr<HidHost> host);
std::shared_ptr<HidHost> CurrentHidHostShared();
// Makes the place that holds the current host, if it is not there yet. An
// object that closes a channel when it dies calls this before it is made, so
// that at exit the host is still there to close through.
void MakeHidHostSlot();

// "" = the platform's real HID, "sim" or "sim:SCENARIO" = the simulator,
// "exec:COMMAND" = an external device process. Null with a message in error
// when the spec is not understood.
std::shared_ptr<HidHost> MakeHidHost(const std::string& spec, std::string& error);

// The platform's own HID host (Win32 on Windows; elsewhere hidapi where the
// build found it, else a bus without devices).
std::shared_ptr<HidHost> MakePlatformHidHost();
