// A USB bus of simulated HID devices that can be plugged in and pulled out at
// run time. Each slot has an interface path, HID attributes, the open handles
// with their access and share modes (so a second open for the same direction
// fails as on Windows), the input reports the device sent and the device model
// that receives every output report. Like a HID driver, the bus keeps at most a
// ring's worth of unread reports for the reader and drops the oldest beyond it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/HidHost.h"
#include "simulator/SimClock.h"

class SimBus;

// What a simulated device does with the reports the host writes. Called with
// the bus lock held: it may queue replies and schedule events, nothing else.
class SimDeviceModel {
 public:
  virtual ~SimDeviceModel() = default;
  // false makes the host's write fail (a fault).
  virtual bool OnOutputReport(SimBus& bus, int slot, const std::vector<uint8_t>& report) = 0;
  // The length of the device's output report; the driver fails a write of any
  // other length before the device sees it. 0 takes any length.
  virtual size_t OutputReportLength() const { return 0; }
  // The host opened or closed a channel to the device (for models that care).
  virtual void OnAttached(SimBus&, int) {}
};

struct SimHandle {
  int slot = -1;
  uint32_t access = 0;
  uint32_t share = 0;
  uint32_t ring = 0;  // unread input reports the driver keeps for a read handle
};

struct SimSlot {
  std::wstring path;
  HidAttributes attributes;
  bool present = false;
  std::shared_ptr<SimDeviceModel> model;
  // Input reports sent and not yet read, with the time (µs) each arrives: those
  // that have arrived are in the reader's ring, the later ones still on the wire.
  std::deque<std::pair<uint64_t, std::vector<uint8_t>>> input;
  // Handles that "another program" holds (a device held open).
  std::vector<SimHandle> foreignHandles;
};

class SimBus {
 public:
  explicit SimBus(bool realTime = false);

  SimClock& Clock() { return clock_; }
  uint64_t Now() const { return clock_.Now(); }
  // The time one report takes on the simulated bus (µs); 1000 = one full-speed
  // frame. At 0 the bus keeps pace with the reader: a report waits for room in
  // the ring and none is lost.
  uint64_t replyLatencyUs = 1000;
  // The ring a read handle gets when it is opened (32 on Windows).
  uint32_t inputRingReports = 32;
  static constexpr uint32_t kMinInputRing = 2;
  static constexpr uint32_t kMaxInputRing = 512;

  // Adds a device slot (absent until Plug); answers its number.
  int AddSlot(const std::wstring& path, uint16_t productId, uint16_t version, std::shared_ptr<SimDeviceModel> model);

  // Under the bus lock (from a model's OnOutputReport or a scheduled event):
  void QueueReport(int slot, std::vector<uint8_t> report, uint64_t delayUs);
  void Schedule(uint64_t delayUs, std::function<void(SimBus&)> event);
  void Plug(int slot);        // arrival (notification told)
  void Unplug(int slot);      // removal: open handles go stale, input is dropped
  void SetIdentity(int slot, uint16_t productId, uint16_t version);
  void HoldOpen(int slot);    // another program opens it for reading and writing
  SimSlot& Slot(int slot) { return slots_.at(static_cast<size_t>(slot)); }
  size_t SlotCount() const { return slots_.size(); }

  // The host side (takes the lock itself).
  bool InterfacePath(uint32_t index, std::wstring& path);
  HidHandle OpenPath(const std::wstring& path, uint32_t access, uint32_t share);
  void CloseHandle(HidHandle handle);
  bool GetAttributes(HidHandle handle, HidAttributes& attributes);
  bool Read(HidHandle handle, uint8_t* buffer, uint32_t length, uint32_t timeoutMs);
  bool Write(HidHandle handle, const uint8_t* buffer, uint32_t length, uint32_t timeoutMs);
  // HidD_SetNumInputBuffers: 2 to 512 reports, on a handle of a present device.
  bool SetInputRing(HidHandle handle, uint32_t reports);
  void Sleep(uint32_t ms);
  void SetDeviceChangeSink(DeviceChangeSink sink);
  // Reports dropped so far because a ring was full, on every slot.
  uint64_t DroppedReports();
  // Runs every scheduled event that is due (and tells its notifications).
  void Pump();

  // Every output report written, in order, for tests: (slot, bytes).
  std::vector<std::pair<int, std::vector<uint8_t>>> written;
  bool recordWrites = false;

  std::recursive_mutex& Mutex() { return mutex_; }

 private:
  struct Pending {
    uint64_t at;
    uint64_t seq;
    std::function<void(SimBus&)> event;
  };
  void RunDueLocked(std::vector<std::pair<uint32_t, std::wstring>>& notes);
  void Tell(const std::vector<std::pair<uint32_t, std::wstring>>& notes);
  int SlotOfHandle(HidHandle handle, SimHandle** info = nullptr);
  // Drops what has arrived beyond the reader's ring, oldest first. Done lazily
  // before each read: reports only leave by being read, so the outcome is the
  // one the driver reaches by dropping as each report arrives.
  void TrimRingLocked(int slot);
  // Access/share compatibility of a new open against those already open.
  bool ShareAllows(int slot, uint32_t access, uint32_t share) const;

  SimClock clock_;
  std::recursive_mutex mutex_;
  std::vector<SimSlot> slots_;
  std::map<uintptr_t, SimHandle> handles_;
  uintptr_t nextHandle_ = 0x1000;
  std::vector<Pending> pending_;
  uint64_t nextSeq_ = 0;
  uint64_t dropped_ = 0;
  // Notifications raised under the lock, told once it is released.
  std::vector<std::pair<uint32_t, std::wstring>> notes_;
  DeviceChangeSink sink_;
  std::mutex sinkMutex_;
};
