#include "device/HidHostHidapi.h"

#ifndef _WIN32

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "device/HidDevice.h"
#include "device/TraceLog.h"
#include "device/Utf8.h"

namespace {

// hidraw numbers its nodes; hidraw10 comes after hidraw9, not after hidraw1.
bool PathBefore(const std::string& a, const std::string& b) {
  auto split = [](const std::string& s) {
    size_t digits = s.size();
    while (digits > 0 && s[digits - 1] >= '0' && s[digits - 1] <= '9') --digits;
    return std::make_pair(s.substr(0, digits), s.size() - digits);
  };
  auto [stemA, countA] = split(a);
  auto [stemB, countB] = split(b);
  if (stemA != stemB) return stemA < stemB;
  if (countA != countB) return countA < countB;
  return a < b;
}

std::string RecordKey(const HidapiDeviceRecord& r) {
  return r.path + '\n' + std::to_string(r.vendorId) + ':' + std::to_string(r.productId) + ':' +
         std::to_string(r.releaseNumber);
}

enum class LockResult { Taken, Held, Unavailable };

LockResult LockNode(const HidapiCalls& calls, const std::string& path, int& fd, int& error) {
  fd = -1;
  error = 0;
  if (!calls.lockNode) return LockResult::Unavailable;
  fd = calls.lockNode(calls.context, path, error);
  if (fd >= 0) return LockResult::Taken;
  return error == EWOULDBLOCK ? LockResult::Held : LockResult::Unavailable;
}

// One open device, shared by the read and the write handle of one path.
struct Node {
  HidapiCalls calls;
  HidapiDevice device = nullptr;
  int lockFd = -1;
  HidapiDeviceRecord record;
  std::atomic<bool> gone{false};
  ~Node() {
    if (device) calls.close(calls.context, device);
    if (lockFd >= 0) ::close(lockFd);
  }
};

struct Handle {
  HidapiDeviceRecord record;
  uint32_t access = 0;
  std::shared_ptr<Node> node;  // null for an attribute query
};

struct Refusal {
  HidapiDeviceRecord record;
  int error = 0;
};

class HidapiHost : public HidHost {
 public:
  HidapiHost(const HidapiCalls& calls, const HidapiHostOptions& options)
      : calls_(calls),
        pollMs_(std::max<uint32_t>(options.pollMs, 1)) {}

  ~HidapiHost() override {
    {
      std::lock_guard<std::mutex> lock(stopMutex_);
      stop_ = true;
    }
    stopCv_.notify_all();
    if (watcher_.joinable()) watcher_.join();
  }

  bool InterfacePath(uint32_t index, std::wstring& path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    // Each walk starts from a fresh look at the bus, as SetupAPI's does.
    if (index == 0) {
      walk_.clear();
      refused_.clear();
      if (!Enumerate(walk_)) return false;
    }
    if (index >= walk_.size()) return false;
    path = FromUtf8(walk_[index].path);
    return true;
  }

  HidHandle OpenPath(const std::wstring& widePath, uint32_t access, uint32_t, bool) override {
    std::string path = ToUtf8(widePath);
    std::lock_guard<std::mutex> lock(mutex_);
    HidapiDeviceRecord record;
    if (!FindRecord(path, record)) return kInvalidHidHandle;

    if ((access & (kGenericRead | kGenericWrite)) == 0) {
      // An attribute query asks for no rights, yet it opens the node once so
      // that a node this user may not open is not listed as usable.
      int error = 0;
      HidapiDevice probe = calls_.openPath(calls_.context, path, error);
      if (!probe) {
        refused_.push_back(Refusal{record, error});
        return kInvalidHidHandle;
      }
      calls_.close(calls_.context, probe);
      return Add(Handle{record, access, nullptr});
    }

    // The channel's share modes: one reader and one writer at a time.
    for (const auto& [id, h] : handles_) {
      if (h.node && h.record.path == path && (h.access & access & (kGenericRead | kGenericWrite)) != 0)
        return kInvalidHidHandle;
    }
    std::shared_ptr<Node> node = nodes_[path].lock();
    if (!node || node->gone) {
      node = OpenNode(record);
      if (!node) return kInvalidHidHandle;
      nodes_[path] = node;
    }
    return Add(Handle{record, access, node});
  }

  void CloseHandle(HidHandle handle) override {
    std::shared_ptr<Node> last;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(Id(handle));
    if (it == handles_.end()) return;
    last = std::move(it->second.node);
    handles_.erase(it);
    // The node (and its lock) goes with the last handle, unless a transfer on
    // another thread still holds it.
  }

  bool GetAttributes(HidHandle handle, HidAttributes& attributes) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(Id(handle));
    if (it == handles_.end() || (it->second.node && it->second.node->gone)) return false;
    attributes.vendorId = it->second.record.vendorId;
    attributes.productId = it->second.record.productId;
    attributes.versionNumber = it->second.record.releaseNumber;
    return true;
  }

  HidEvent CreateIoEvent() override { return reinterpret_cast<HidEvent>(nextEvent_ += 4); }
  void CloseIoEvent(HidEvent) override {}

  bool ReadReport(HidHandle handle, uint8_t* buffer, uint32_t length, HidOverlapped&, uint32_t timeoutMs) override {
    std::shared_ptr<Node> node = Transfer(handle, kGenericRead);
    if (!node || length < 2 || length > kMaxReport) return false;
    // A device without numbered reports gives the payload alone; the channel
    // expects the report id 0 in front, as Windows hands reports up.
    uint8_t payload[kMaxReport];
    int timeout = timeoutMs > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs);
    int got = calls_.readTimeout(calls_.context, node->device, payload, length - 1, timeout);
    if (got < 0) {
      Failed(*node, "read");
      return false;
    }
    if (got == 0) return false;  // nothing is left pending: the channel reads on as before
    buffer[0] = 0;
    for (uint32_t i = 1; i < length; ++i) buffer[i] = i - 1 < static_cast<uint32_t>(got) ? payload[i - 1] : 0;
    return true;
  }

  // hid_write has no time-out of its own; the kernel ends a USB interrupt
  // write that the device does not take within a few seconds.
  bool WriteReport(HidHandle handle, const uint8_t* buffer, uint32_t length, HidOverlapped&, uint32_t) override {
    std::shared_ptr<Node> node = Transfer(handle, kGenericWrite);
    if (!node || length == 0) return false;
    int sent = calls_.write(calls_.context, node->device, buffer, length);
    if (sent < 0) {
      Failed(*node, "write");
      return false;
    }
    return sent > 0;
  }

  // hidapi cannot change the driver's ring; hidraw's 64 reports hold a flash
  // packet's 33 replies. The trace says what there is instead of a raise.
  bool SetInputRingSize(HidHandle, uint32_t) override {
    if (calls_.inputRingReports > 0)
      TraceLog << "hidapi: the driver keeps " << calls_.inputRingReports
               << " unread input reports for each open device; it cannot be raised." << std::endl;
    else
      TraceLog << "hidapi: the driver keeps its own number of unread input reports; it cannot be raised." << std::endl;
    return false;
  }

  void Sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

  void SetDeviceChangeSink(DeviceChangeSink sink) override {
    bool start = false;
    {
      std::lock_guard<std::mutex> lock(sinkMutex_);
      start = sink && !watching_;
      if (start) watching_ = true;
      sink_ = std::move(sink);
    }
    if (!start) return;
    // What is there now was there before anyone listened: no arrival for it.
    Rescan();
    watcher_ = std::thread([this] { Watch(); });
  }

  std::string Note() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Refusal& r : refused_) {
      char ids[64];
      std::snprintf(ids, sizeof ids, "vendor %04x, product %04x", r.record.vendorId, r.record.productId);
      return r.record.path + " (" + ids + ") could not be opened: " + std::strerror(r.error) + ".";
    }
    return "Searched the hidraw devices through hidapi: no flight computer (vendor 03db) is present.";
  }

  bool Denied(DeniedHidNode& node) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Refusal& r : refused_) {
      // The udev rule grants these two; another product of the vendor is not ours to advise on.
      bool ours = r.record.productId == kApplicationProductId || r.record.productId == kBootloaderProductId;
      if (ours && (r.error == EACCES || r.error == EPERM)) {
        node = DeniedHidNode{r.record.path, r.record.productId, r.error};
        return true;
      }
    }
    return false;
  }

 private:
  static constexpr uint32_t kMaxReport = 65;

  static uintptr_t Id(HidHandle handle) { return reinterpret_cast<uintptr_t>(handle); }

  HidHandle Add(Handle handle) {
    uintptr_t id = nextHandle_;
    nextHandle_ += 4;
    handles_[id] = std::move(handle);
    return reinterpret_cast<HidHandle>(id);
  }

  // The devices of the flight computer's vendor, in a stable order, one record per path.
  bool Enumerate(std::vector<HidapiDeviceRecord>& devices) {
    devices.clear();
    std::vector<HidapiDeviceRecord> all;
    if (!calls_.enumerate(calls_.context, kVendorId, all)) return false;
    for (HidapiDeviceRecord& r : all) {
      if (r.vendorId == kVendorId && !r.path.empty()) devices.push_back(std::move(r));
    }
    std::stable_sort(devices.begin(), devices.end(),
                     [](const HidapiDeviceRecord& a, const HidapiDeviceRecord& b) { return PathBefore(a.path, b.path); });
    // A device with several top-level collections is listed once for each.
    devices.erase(std::unique(devices.begin(), devices.end(),
                              [](const HidapiDeviceRecord& a, const HidapiDeviceRecord& b) { return a.path == b.path; }),
                  devices.end());
    return true;
  }

  // Under mutex_: the record of a path, from the current walk or a fresh look.
  bool FindRecord(const std::string& path, HidapiDeviceRecord& record) {
    auto match = [&](const std::vector<HidapiDeviceRecord>& list) {
      for (const HidapiDeviceRecord& r : list) {
        if (r.path == path) {
          record = r;
          return true;
        }
      }
      return false;
    };
    if (match(walk_)) return true;
    std::vector<HidapiDeviceRecord> now;
    return Enumerate(now) && match(now);
  }

  std::shared_ptr<Node> OpenNode(const HidapiDeviceRecord& record) {
    auto node = std::make_shared<Node>();
    node->calls = calls_;
    node->record = record;
    // Locked before hidapi opens it, so a device another program holds is not
    // even read from.
    int error = 0;
    LockResult locked = LockNode(calls_, record.path, node->lockFd, error);
    if (locked == LockResult::Held) {
      TraceLog << "hidapi: " << record.path << " is in use by another program." << std::endl;
      return nullptr;
    }
    // A node this user may not open cannot be locked either; the open below says so.
    if (locked == LockResult::Unavailable && error != EACCES && error != EPERM) {
      TraceLog << "hidapi: cannot lock " << record.path << (error ? ": " : "") << (error ? std::strerror(error) : "")
               << "; opening it unguarded." << std::endl;
    }
    error = 0;
    node->device = calls_.openPath(calls_.context, record.path, error);
    if (!node->device) {
      TraceLog << "hidapi: cannot open " << record.path << ": " << std::strerror(error) << std::endl;
      return nullptr;
    }
    return node;
  }

  std::shared_ptr<Node> Transfer(HidHandle handle, uint32_t direction) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(Id(handle));
    if (it == handles_.end() || !it->second.node || (it->second.access & direction) == 0) return nullptr;
    if (it->second.node->gone) return nullptr;
    return it->second.node;
  }

  // A failed transfer is most often a device that left: look now rather than
  // at the next poll, so the removal is told before the caller goes on.
  void Failed(Node& node, const char* what) {
    TraceLog << "hidapi: " << what << " failed on " << node.record.path << std::endl;
    Rescan();
  }

  // Compares the bus with the last look and tells the differences. A device
  // that restarted under the same path with another identity is a removal and
  // an arrival, as Windows reports it.
  void Rescan() {
    std::lock_guard<std::mutex> scan(scanMutex_);
    std::vector<HidapiDeviceRecord> now;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!Enumerate(now)) return;
    }
    std::map<std::string, HidapiDeviceRecord> present;
    for (const HidapiDeviceRecord& r : now) present[RecordKey(r)] = r;
    std::vector<std::pair<uint32_t, std::string>> changes;
    if (baselined_) {
      for (const auto& [key, r] : known_)
        if (!present.count(key)) changes.emplace_back(kDeviceRemoveComplete, r.path);
      for (const auto& [key, r] : present)
        if (!known_.count(key)) changes.emplace_back(kDeviceArrival, r.path);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (auto& [path, weak] : nodes_) {
        std::shared_ptr<Node> node = weak.lock();
        if (node && !present.count(RecordKey(node->record))) node->gone = true;
      }
    }
    known_ = std::move(present);
    baselined_ = true;
    for (const auto& [event, path] : changes) {
      std::lock_guard<std::mutex> lock(sinkMutex_);
      if (sink_) sink_(event, DeviceNotification{kDevTypDeviceInterface, FromUtf8(path)});
    }
  }

  void Watch() {
    std::unique_lock<std::mutex> lock(stopMutex_);
    while (!stop_) {
      if (stopCv_.wait_for(lock, std::chrono::milliseconds(pollMs_), [this] { return stop_; })) break;
      lock.unlock();
      Rescan();
      lock.lock();
    }
  }

  HidapiCalls calls_;
  uint32_t pollMs_;

  std::mutex mutex_;  // walk_, refused_, handles_, nodes_
  std::vector<HidapiDeviceRecord> walk_;
  std::vector<Refusal> refused_;
  std::map<uintptr_t, Handle> handles_;
  std::map<std::string, std::weak_ptr<Node>> nodes_;
  uintptr_t nextHandle_ = 0x3000;
  std::atomic<uintptr_t> nextEvent_{0x100};

  std::mutex scanMutex_;  // known_, baselined_; held while telling, so changes arrive in order
  std::map<std::string, HidapiDeviceRecord> known_;
  bool baselined_ = false;

  std::mutex sinkMutex_;
  DeviceChangeSink sink_;
  bool watching_ = false;

  std::mutex stopMutex_;
  std::condition_variable stopCv_;
  bool stop_ = false;
  std::thread watcher_;
};

}  // namespace

std::shared_ptr<HidHost> MakeHidapiHost(const HidapiCalls& calls, const HidapiHostOptions& options) {
  return std::make_shared<HidapiHost>(calls, options);
}

int LockNodeFile(const std::string& path, int& error) {
  error = 0;
  // Read-only and non-blocking: the descriptor only carries the lock, and an
  // open of a device node must not wait.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
  error = errno;
  ::close(fd);
  return -1;
}

bool FindDeniedNode(HidHost& host, DeniedHidNode& node) {
  auto* hidapi = dynamic_cast<HidapiHost*>(&host);
  return hidapi && hidapi->Denied(node);
}

std::string DeniedNodeAdvice(HidHost& host) {
  DeniedHidNode node;
  if (!FindDeniedNode(host, node)) return "";
  const char* mode = node.productId == kBootloaderProductId ? "bootloader" : "application firmware";
  return "Device found at " + node.path + " (" + mode + "), but this user may not open it: " +
         std::strerror(node.error) +
         ".\n"
         "The udev rule 70-ulkusb.rules gives the user at the machine access to the flight computer.\n"
         "Install the ulktool package, which puts it in /usr/lib/udev/rules.d, or install it from the sources:\n"
         "  sudo cp packaging/linux/70-ulkusb.rules /etc/udev/rules.d/ && sudo udevadm control --reload-rules && "
         "sudo udevadm trigger\n"
         "With the rule in place, plug the flight computer in again; over ssh see the README (Linux).\n";
}

std::string EmptyBusNote(HidHost& host) {
  if (auto* hidapi = dynamic_cast<HidapiHost*>(&host)) return hidapi->Note();
#ifdef ULK_HAVE_HIDAPI
  return "";
#else
  return "This ulktool was built without hidapi: it has no access to real flight computers on this system.";
#endif
}

#else

std::string EmptyBusNote(HidHost&) { return ""; }
bool FindDeniedNode(HidHost&, DeniedHidNode&) { return false; }
std::string DeniedNodeAdvice(HidHost&) { return ""; }

#endif
