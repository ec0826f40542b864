#include "device/ExecHost.h"

#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "device/ExecProcess.h"
#include "device/TraceLog.h"

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& bytes) {
  bytes.clear();
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  size_t i = 0;
  while (i < text.size()) {
    if (i + 2 > text.size() || hex(text[i]) < 0 || hex(text[i + 1]) < 0) return false;
    bytes.push_back(static_cast<uint8_t>(hex(text[i]) * 16 + hex(text[i + 1])));
    i += 2;
    if (i == text.size()) break;
    if (text[i] != ' ' || i + 1 == text.size()) return false;
    ++i;
  }
  // A HID report is at most 65 bytes here; longer is not a report of this device.
  return !bytes.empty() && bytes.size() <= 65;
}

std::string FormatHexBytes(const uint8_t* bytes, size_t count) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    if (i) text.push_back(' ');
    text.push_back(digits[bytes[i] >> 4]);
    text.push_back(digits[bytes[i] & 15]);
  }
  return text;
}

namespace {

constexpr size_t kMaxQueuedReports = 4096;

class ExecHost : public HidHost {
 public:
  ExecHost(std::unique_ptr<ExecProcess> process) : process_(std::move(process)) {
    reader_ = std::thread([this] { ReadLoop(); });
    // Give the device a moment to say that it is present, as a device that is
    // plugged in is there before the program looks.
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(5), [this] { return present_ || ended_; });
  }

  ~ExecHost() override {
    process_->Stop();
    if (reader_.joinable()) reader_.join();
  }

  bool InterfacePath(uint32_t index, std::wstring& path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index != 0 || !present_) return false;
    path = Path();
    return true;
  }

  HidHandle OpenPath(const std::wstring& path, uint32_t access, uint32_t, bool) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!present_ || path != Path()) return kInvalidHidHandle;
    // One reader and one writer at a time, as the channel's share modes allow.
    for (const auto& [id, h] : handles_) {
      if (h.generation != generation_) continue;
      if ((access & h.access & (kGenericRead | kGenericWrite)) != 0) return kInvalidHidHandle;
    }
    uintptr_t id = nextHandle_;
    nextHandle_ += 4;
    handles_[id] = Handle{access, generation_};
    return reinterpret_cast<HidHandle>(id);
  }

  void CloseHandle(HidHandle handle) override {
    std::lock_guard<std::mutex> lock(mutex_);
    handles_.erase(reinterpret_cast<uintptr_t>(handle));
    // Unread input belongs to the channel that did not read it, as a HID
    // driver's ring belongs to its handle: the next channel starts empty.
    if (!AnyReader()) input_.clear();
    changed_.notify_all();
  }

  bool GetAttributes(HidHandle handle, HidAttributes& attributes) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Live(handle)) return false;
    attributes = attributes_;
    return true;
  }

  HidEvent CreateIoEvent() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return reinterpret_cast<HidEvent>(nextHandle_ += 4);
  }
  void CloseIoEvent(HidEvent) override {}

  bool ReadReport(HidHandle handle, uint8_t* buffer, uint32_t length, HidOverlapped&, uint32_t timeoutMs) override {
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [&] { return !Live(handle) || !input_.empty(); };
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    if (!Live(handle) || input_.empty()) return false;
    std::vector<uint8_t> report = std::move(input_.front());
    input_.pop_front();
    for (uint32_t i = 0; i < length; ++i) buffer[i] = i < report.size() ? report[i] : 0;
    return true;
  }

  // A device that does not take the line in time fails the write, as a report
  // that a device does not take fails the overlapped write.
  bool WriteReport(HidHandle handle, const uint8_t* buffer, uint32_t length, HidOverlapped&,
                   uint32_t timeoutMs) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!Live(handle)) return false;
    }
    return process_->WriteLine("W " + FormatHexBytes(buffer, length), timeoutMs);
  }

  void Sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

  void SetDeviceChangeSink(DeviceChangeSink sink) override {
    std::lock_guard<std::mutex> lock(sinkMutex_);
    sink_ = std::move(sink);
  }

 private:
  struct Handle {
    uint32_t access;
    uint64_t generation;
  };

  std::wstring Path() const {
    wchar_t pid[8];
    swprintf(pid, 8, L"%04x", attributes_.productId);
    return std::wstring(L"\\\\?\\hid#vid_03db&pid_") + pid + L"#exec&1#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  }

  bool Live(HidHandle handle) const {
    auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
    return it != handles_.end() && it->second.generation == generation_ && present_;
  }

  bool AnyReader() const {
    for (const auto& [id, h] : handles_)
      if (h.generation == generation_ && (h.access & kGenericRead) != 0) return true;
    return false;
  }

  void Tell(uint32_t event, const std::wstring& path) {
    std::lock_guard<std::mutex> lock(sinkMutex_);
    if (sink_) sink_(event, DeviceNotification{kDevTypDeviceInterface, path});
  }

  void ReadLoop() {
    std::string line;
    while (process_->ReadLine(line)) {
      std::vector<uint8_t> bytes;
      if (line.rfind("R ", 0) == 0 && ParseHexBytes(line.substr(2), bytes)) {
        std::lock_guard<std::mutex> lock(mutex_);
        // Nobody to read it: lost, as a report with no open handle is.
        if (present_ && AnyReader() && input_.size() < kMaxQueuedReports) input_.push_back(std::move(bytes));
        changed_.notify_all();
        continue;
      }
      unsigned vendor = 0, product = 0, version = 0;
      char extra = 0;
      if (line.rfind("HID ", 0) == 0 && line.size() == 18 &&
          std::sscanf(line.c_str(), "HID %4x %4x %4x%c", &vendor, &product, &version, &extra) == 3) {
        std::wstring path;
        bool first = false;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          first = !seenDevice_;
          seenDevice_ = true;
          if (present_) Unplug();
          attributes_.vendorId = static_cast<uint16_t>(vendor);
          attributes_.productId = static_cast<uint16_t>(product);
          attributes_.versionNumber = static_cast<uint16_t>(version);
          present_ = true;
          path = Path();
          changed_.notify_all();
        }
        // The first one was there before the program looked: no arrival to tell.
        if (!first) Tell(kDeviceArrival, path);
        continue;
      }
      if (line == "UNPLUG") {
        std::wstring path;
        bool was = false;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          was = present_;
          path = Path();
          Unplug();
        }
        if (was) Tell(kDeviceRemoveComplete, path);
        continue;
      }
      // Anything else is a device saying nothing.
      TraceLog << "exec device: ignored line: " << line.substr(0, 200) << std::endl;
    }
    std::wstring path;
    bool was = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      was = present_;
      path = Path();
      Unplug();
      ended_ = true;
      changed_.notify_all();
    }
    if (was) Tell(kDeviceRemoveComplete, path);
  }

  // Under the lock: open handles go stale and unread input is lost.
  void Unplug() {
    present_ = false;
    ++generation_;
    input_.clear();
    changed_.notify_all();
  }

  std::unique_ptr<ExecProcess> process_;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool present_ = false;
  bool ended_ = false;
  bool seenDevice_ = false;
  uint64_t generation_ = 0;
  HidAttributes attributes_;
  std::deque<std::vector<uint8_t>> input_;
  std::map<uintptr_t, Handle> handles_;
  uintptr_t nextHandle_ = 0x2000;
  std::mutex sinkMutex_;
  DeviceChangeSink sink_;
};

}  // namespace

std::shared_ptr<HidHost> MakeExecHost(const std::string& command, std::string& error) {
  std::unique_ptr<ExecProcess> process = StartExecProcess(command, error);
  if (!process) return nullptr;
  return MakeExecHost(std::move(process));
}

std::shared_ptr<HidHost> MakeExecHost(std::unique_ptr<ExecProcess> process) {
  return std::make_shared<ExecHost>(std::move(process));
}
