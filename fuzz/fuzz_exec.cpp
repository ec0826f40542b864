// The exec device's line protocol: whatever lines a device process may print
// ("HID", "R", "UNPLUG", anything else), fed without a process. The host then
// answers for the device as the lines left it: present or not, with the
// attributes of its last "HID" line and its "R" reports in order.
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "device/ExecHost.h"
#include "device/ExecProcess.h"
#include "device/HidDevice.h"
#include "fuzz/FuzzSupport.h"

namespace {

// Hands the input's lines to the host's reader, then waits like a device
// with nothing more to say until the host stops it; one that never said it
// was present ends at once instead (the host would wait for it).
class LineFeed : public ExecProcess {
 public:
  LineFeed(std::deque<std::string> lines, bool present) : lines_(std::move(lines)), present_(present) {}

  bool WriteLine(const std::string& line) override {
    std::lock_guard<std::mutex> lock(mutex_);
    written.push_back(line);
    return !stopped_;
  }
  bool ReadLine(std::string& line) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (lines_.empty()) {
      drained_ = true;
      changed_.notify_all();
      if (present_) changed_.wait(lock, [this] { return stopped_; });
      return false;
    }
    line = std::move(lines_.front());
    lines_.pop_front();
    return true;
  }
  void Stop() override {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }
  void WaitDrained() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return drained_; });
  }

  std::vector<std::string> written;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> lines_;
  bool present_;
  bool drained_ = false;
  bool stopped_ = false;
};

// What the lines should leave behind, by the protocol's rules.
struct Expectation {
  bool present = false;
  HidAttributes attributes;
  std::deque<std::vector<uint8_t>> reports;
};

Expectation Expect(const std::deque<std::string>& lines) {
  Expectation e;
  for (const std::string& line : lines) {
    std::vector<uint8_t> bytes;
    unsigned v = 0, p = 0, r = 0;
    char extra = 0;
    if (line.rfind("R ", 0) == 0 && ParseHexBytes(line.substr(2), bytes)) {
      if (e.present) e.reports.push_back(bytes);
    } else if (line.rfind("HID ", 0) == 0 && line.size() == 18 &&
               std::sscanf(line.c_str(), "HID %4x %4x %4x%c", &v, &p, &r, &extra) == 3) {
      e.present = true;
      e.reports.clear();
      e.attributes.vendorId = static_cast<uint16_t>(v);
      e.attributes.productId = static_cast<uint16_t>(p);
      e.attributes.versionNumber = static_cast<uint16_t>(r);
    } else if (line == "UNPLUG") {
      e.present = false;
      e.reports.clear();
    }
  }
  return e;
}

constexpr size_t kMaxLines = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietFuzzing();
  std::deque<std::string> lines(1);
  for (size_t i = 0; i < size && lines.size() <= kMaxLines; ++i) {
    if (data[i] == '\n')
      lines.emplace_back();
    else
      lines.back().push_back(static_cast<char>(data[i]));
  }
  if (lines.back().empty()) lines.pop_back();
  const Expectation expected = Expect(lines);

  auto feed = std::make_unique<LineFeed>(lines, expected.present);
  LineFeed* process = feed.get();
  std::shared_ptr<HidHost> host = MakeExecHost(std::move(feed));
  process->WaitDrained();

  std::wstring path;
  FUZZ_CHECK(host->InterfacePath(0, path) == expected.present);
  FUZZ_CHECK(!host->InterfacePath(1, path));
  if (!expected.present) return 0;

  HidHandle query = host->OpenPath(path, kNoAccess, kShareRead | kShareWrite, false);
  HidAttributes attributes;
  FUZZ_CHECK(host->GetAttributes(query, attributes));
  FUZZ_CHECK(attributes.vendorId == expected.attributes.vendorId &&
             attributes.productId == expected.attributes.productId &&
             attributes.versionNumber == expected.attributes.versionNumber);
  host->CloseHandle(query);

  HidHandle reader = host->OpenPath(path, kGenericRead, kShareWrite, true);
  HidHandle writer = host->OpenPath(path, kGenericWrite, kShareRead, true);
  FUZZ_CHECK(IsValidHandle(reader) && IsValidHandle(writer));
  HidOverlapped record;
  for (const std::vector<uint8_t>& report : expected.reports) {
    uint8_t buffer[65];
    FUZZ_CHECK(host->ReadReport(reader, buffer, sizeof buffer, record, 0));
    for (size_t i = 0; i < sizeof buffer; ++i) FUZZ_CHECK(buffer[i] == (i < report.size() ? report[i] : 0));
  }
  uint8_t buffer[4];
  FUZZ_CHECK(!host->ReadReport(reader, buffer, sizeof buffer, record, 0));

  // What the host writes is one "W" line the device can parse back.
  const uint8_t out[4] = {0, data[0], static_cast<uint8_t>(size), 0x0B};
  FUZZ_CHECK(host->WriteReport(writer, out, sizeof out, record, 100));
  std::vector<uint8_t> echoed;
  FUZZ_CHECK(!process->written.empty() && process->written.back().rfind("W ", 0) == 0);
  FUZZ_CHECK(ParseHexBytes(process->written.back().substr(2), echoed));
  FUZZ_CHECK(echoed == std::vector<uint8_t>(out, out + sizeof out));
  host->CloseHandle(reader);
  host->CloseHandle(writer);
  return 0;
}
