#include "simulator/SimBus.h"

#include <algorithm>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "device/TraceLog.h"

namespace {

// Sleeps for that many microseconds. The Windows C library's sleeps count
// whole milliseconds and return at once for less, which left a reader waiting
// for the next report (a millisecond away at most) spinning a whole processor,
// as no reader of a real device does; the system's own delay counts 100 ns.
void SleepMicroseconds(uint64_t us) {
#ifdef _WIN32
  using Delay = LONG(WINAPI*)(BOOLEAN, const LARGE_INTEGER*);
  static const Delay delay = reinterpret_cast<Delay>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDelayExecution")));
  if (delay) {
    LARGE_INTEGER interval;
    interval.QuadPart = -static_cast<LONGLONG>(us * 10);  // relative, in 100 ns
    delay(FALSE, &interval);
    return;
  }
#endif
  std::this_thread::sleep_for(std::chrono::microseconds(us));
}

}  // namespace

void SimClock::WaitUntil(uint64_t t) {
  if (!realTime_) {
    uint64_t now = now_.load();
    while (now < t && !now_.compare_exchange_weak(now, t)) {
    }
    return;
  }
  // The system's delay keeps its own clock: sleep again for what is left.
  for (uint64_t now = Now(); now < t; now = Now()) SleepMicroseconds(t - now);
}

namespace {
// On the real clock a read wakes at least this often, so that events scheduled
// by another thread meanwhile are not missed.
constexpr uint64_t kRealTimeSliceUs = 10000;
}  // namespace

SimBus::SimBus(bool realTime) : clock_(realTime) {}

int SimBus::AddSlot(const std::wstring& path, uint16_t productId, uint16_t version,
                    std::shared_ptr<SimDeviceModel> model) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  SimSlot slot;
  slot.path = path;
  slot.attributes.vendorId = 987;
  slot.attributes.productId = productId;
  slot.attributes.versionNumber = version;
  slot.model = std::move(model);
  slots_.push_back(std::move(slot));
  return static_cast<int>(slots_.size() - 1);
}

void SimBus::QueueReport(int slot, std::vector<uint8_t> report, uint64_t delayUs) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  SimSlot& s = Slot(slot);
  if (!s.present) return;
  uint64_t after = s.input.empty() ? Now() : std::max(Now(), s.input.back().first);
  s.input.emplace_back(after + replyLatencyUs + delayUs, std::move(report));
}

void SimBus::Schedule(uint64_t delayUs, std::function<void(SimBus&)> event) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  pending_.push_back(Pending{Now() + delayUs, nextSeq_++, std::move(event)});
}

void SimBus::Plug(int slot) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  SimSlot& s = Slot(slot);
  if (s.present) return;
  s.present = true;
  s.input.clear();
  notes_.emplace_back(kDeviceArrival, s.path);
}

void SimBus::Unplug(int slot) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  SimSlot& s = Slot(slot);
  if (!s.present) return;
  s.present = false;
  s.input.clear();
  s.foreignHandles.clear();
  // Handles opened on the device that left are stale from now on.
  for (auto& [id, h] : handles_)
    if (h.slot == slot) h.slot = -1;
  notes_.emplace_back(kDeviceRemoveComplete, s.path);
}

void SimBus::SetIdentity(int slot, uint16_t productId, uint16_t version) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  SimSlot& s = Slot(slot);
  s.attributes.productId = productId;
  s.attributes.versionNumber = version;
  // The other personality enumerates under its own product id, so its path differs.
  size_t at = s.path.find(L"pid_000");
  if (at != std::wstring::npos && productId < 10) s.path[at + 7] = static_cast<wchar_t>(L'0' + productId);
}

void SimBus::HoldOpen(int slot) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Slot(slot).foreignHandles.push_back(SimHandle{slot, kGenericRead | kGenericWrite, kShareRead | kShareWrite});
}

bool SimBus::ShareAllows(int slot, uint32_t access, uint32_t share) const {
  auto compatible = [&](const SimHandle& h) {
    if ((access & kGenericRead) && !(h.share & kShareRead)) return false;
    if ((access & kGenericWrite) && !(h.share & kShareWrite)) return false;
    if ((h.access & kGenericRead) && !(share & kShareRead)) return false;
    if ((h.access & kGenericWrite) && !(share & kShareWrite)) return false;
    return true;
  };
  for (const auto& [id, h] : handles_)
    if (h.slot == slot && !compatible(h)) return false;
  for (const SimHandle& h : slots_[static_cast<size_t>(slot)].foreignHandles)
    if (!compatible(h)) return false;
  return true;
}

void SimBus::TrimRingLocked(int slot) {
  if (replyLatencyUs == 0) return;  // the bus waits for room instead
  uint32_t ring = 0;
  for (const auto& [id, h] : handles_)
    if (h.slot == slot && (h.access & kGenericRead) && (ring == 0 || h.ring < ring)) ring = h.ring;
  if (ring == 0) return;  // nobody reads
  auto& input = Slot(slot).input;
  const uint64_t now = Now();
  size_t arrived = 0;
  while (arrived < input.size() && input[arrived].first <= now) ++arrived;
  if (arrived <= ring) return;
  const size_t drop = arrived - ring;
  input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(drop));
  dropped_ += drop;
  TraceLog << "SimBus: input ring of " << ring << " full, " << drop << " oldest report(s) dropped." << std::endl;
}

int SimBus::SlotOfHandle(HidHandle handle, SimHandle** info) {
  auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
  if (it == handles_.end()) return -1;
  if (info) *info = &it->second;
  return it->second.slot;
}

void SimBus::RunDueLocked(std::vector<std::pair<uint32_t, std::wstring>>& notes) {
  for (;;) {
    auto due = std::min_element(pending_.begin(), pending_.end(), [](const Pending& a, const Pending& b) {
      return a.at != b.at ? a.at < b.at : a.seq < b.seq;
    });
    if (due == pending_.end() || due->at > Now()) break;
    std::function<void(SimBus&)> event = std::move(due->event);
    pending_.erase(due);
    event(*this);
  }
  notes.insert(notes.end(), notes_.begin(), notes_.end());
  notes_.clear();
}

void SimBus::Tell(const std::vector<std::pair<uint32_t, std::wstring>>& notes) {
  if (notes.empty()) return;
  std::lock_guard<std::mutex> lock(sinkMutex_);
  if (!sink_) return;
  for (const auto& [event, path] : notes) sink_(event, DeviceNotification{kDevTypDeviceInterface, path});
}

void SimBus::Pump() {
  std::vector<std::pair<uint32_t, std::wstring>> notes;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    RunDueLocked(notes);
  }
  Tell(notes);
}

bool SimBus::InterfacePath(uint32_t index, std::wstring& path) {
  Pump();
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  uint32_t n = 0;
  for (const SimSlot& s : slots_) {
    if (!s.present) continue;
    if (n++ == index) {
      path = s.path;
      return true;
    }
  }
  return false;
}

HidHandle SimBus::OpenPath(const std::wstring& path, uint32_t access, uint32_t share) {
  Pump();
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (size_t i = 0; i < slots_.size(); ++i) {
    SimSlot& s = slots_[i];
    if (!s.present || s.path != path) continue;
    if (!ShareAllows(static_cast<int>(i), access, share)) return kInvalidHidHandle;
    uintptr_t id = nextHandle_;
    nextHandle_ += 4;
    handles_[id] = SimHandle{static_cast<int>(i), access, share, inputRingReports};
    if (s.model && access != kNoAccess) s.model->OnAttached(*this, static_cast<int>(i));
    return reinterpret_cast<HidHandle>(id);
  }
  return kInvalidHidHandle;
}

void SimBus::CloseHandle(HidHandle handle) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
  if (it == handles_.end()) return;
  int slot = it->second.slot;
  bool reader = (it->second.access & kGenericRead) != 0;
  handles_.erase(it);
  if (!reader || slot < 0) return;
  // As the HID driver does, the reports nobody read go with the last reader.
  for (const auto& [id, h] : handles_)
    if (h.slot == slot && (h.access & kGenericRead)) return;
  Slot(slot).input.clear();
}

bool SimBus::GetAttributes(HidHandle handle, HidAttributes& attributes) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  int slot = SlotOfHandle(handle);
  if (slot < 0) return false;
  attributes = Slot(slot).attributes;
  return true;
}

bool SimBus::Read(HidHandle handle, uint8_t* buffer, uint32_t length, uint32_t timeoutMs) {
  const uint64_t deadline = Now() + uint64_t{timeoutMs} * 1000;
  for (;;) {
    std::vector<std::pair<uint32_t, std::wstring>> notes;
    uint64_t wakeAt = deadline;
    bool done = false, ok = false;
    {
      std::lock_guard<std::recursive_mutex> lock(mutex_);
      RunDueLocked(notes);
      SimHandle* info = nullptr;
      int slot = SlotOfHandle(handle, &info);
      if (slot < 0 || !(info->access & kGenericRead)) {
        done = true;  // a removed device fails the read at once
      } else {
        TrimRingLocked(slot);
        SimSlot& s = Slot(slot);
        if (!s.input.empty() && s.input.front().first <= Now()) {
          const std::vector<uint8_t>& report = s.input.front().second;
          std::fill(buffer, buffer + length, uint8_t{0});
          std::copy_n(report.begin(), std::min<size_t>(report.size(), length), buffer);
          s.input.pop_front();
          done = ok = true;
        } else {
          if (!s.input.empty()) wakeAt = std::min(wakeAt, s.input.front().first);
          for (const Pending& p : pending_) wakeAt = std::min(wakeAt, p.at);
          if (Now() >= deadline) done = true;
        }
      }
    }
    Tell(notes);
    if (done) return ok;
    if (clock_.RealTime()) wakeAt = std::min(wakeAt, Now() + kRealTimeSliceUs);
    clock_.WaitUntil(std::max(wakeAt, Now()));
  }
}

bool SimBus::Write(HidHandle handle, const uint8_t* buffer, uint32_t length, uint32_t /*timeoutMs*/) {
  std::vector<std::pair<uint32_t, std::wstring>> notes;
  bool ok = false;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    RunDueLocked(notes);
    SimHandle* info = nullptr;
    int slot = SlotOfHandle(handle, &info);
    if (slot >= 0 && (info->access & kGenericWrite)) {
      SimSlot& s = Slot(slot);
      const size_t expected = s.model ? s.model->OutputReportLength() : 0;
      // A report of the wrong length never leaves the driver.
      if (expected == 0 || length == expected) {
        std::vector<uint8_t> report(buffer, buffer + length);
        if (recordWrites) written.emplace_back(slot, report);
        ok = s.model ? s.model->OnOutputReport(*this, slot, report) : true;
      }
    }
    RunDueLocked(notes);
  }
  Tell(notes);
  // The report takes one frame on the bus.
  if (ok) clock_.WaitUntil(Now() + replyLatencyUs);
  return ok;
}

bool SimBus::SetInputRing(HidHandle handle, uint32_t reports) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  SimHandle* info = nullptr;
  int slot = SlotOfHandle(handle, &info);
  if (slot < 0 || reports < kMinInputRing || reports > kMaxInputRing) return false;
  // What arrived under the old size was subject to it; a smaller ring loses its oldest now.
  TrimRingLocked(slot);
  info->ring = reports;
  TrimRingLocked(slot);
  return true;
}

uint64_t SimBus::DroppedReports() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (size_t slot = 0; slot < slots_.size(); ++slot) TrimRingLocked(static_cast<int>(slot));
  return dropped_;
}

void SimBus::Sleep(uint32_t ms) {
  clock_.WaitUntil(Now() + uint64_t{ms} * 1000);
  Pump();
}

void SimBus::SetDeviceChangeSink(DeviceChangeSink sink) {
  std::lock_guard<std::mutex> lock(sinkMutex_);
  sink_ = std::move(sink);
}
