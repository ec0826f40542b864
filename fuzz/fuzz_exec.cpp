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

// Hands the input's lines to the host's reader, holding back those after the
// first "HID" line until the channel is open (the host keeps reports only for
// an open reader); then waits like a device with nothing more to say until
// the host stops it. One that never said it was present ends at once instead.
class LineFeed : public ExecProcess {
 public:
  LineFeed(std::deque<std::string> lines, long holdAt, bool present)
      : lines_(std::move(lines)), holdAt_(holdAt), present_(present) {}

  bool WriteLine(const std::string& line, uint32_t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    written.push_back(line);
    return !stopped_;
  }
  bool ReadLine(std::string& line) override {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return released_ || stopped_ || delivered_ != holdAt_; });
    if (lines_.empty() || stopped_) {
      drained_ = true;
      changed_.notify_all();
      if (present_) changed_.wait(lock, [this] { return stopped_; });
      return false;
    }
    line = std::move(lines_.front());
    lines_.pop_front();
    ++delivered_;
    return true;
  }
  void Stop() override {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
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
  long holdAt_;
  bool present_;
  long delivered_ = 0;
  bool released_ = false;
  bool drained_ = false;
  bool stopped_ = false;
};

// What the lines should leave behind, by the protocol's rules, for a channel
// opened right after the first "HID" line.
struct Expectation {
  long firstHid = -1;
  bool present = false;
  bool sameChannel = false;  // the device never left after that first line
  HidAttributes attributes;
  std::deque<std::vector<uint8_t>> reports;
};

Expectation Expect(const std::deque<std::string>& lines) {
  Expectation e;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    std::vector<uint8_t> bytes;
    unsigned v = 0, p = 0, r = 0;
    char extra = 0;
    if (line.rfind("R ", 0) == 0 && ParseHexBytes(line.substr(2), bytes)) {
      if (e.present && e.sameChannel) e.reports.push_back(bytes);
    } else if (line.rfind("HID ", 0) == 0 && line.size() == 18 &&
               std::sscanf(line.c_str(), "HID %4x %4x %4x%c", &v, &p, &r, &extra) == 3) {
      e.sameChannel = e.firstHid < 0;
      if (e.firstHid < 0) e.firstHid = static_cast<long>(i);
      e.present = true;
      e.reports.clear();
      e.attributes.vendorId = static_cast<uint16_t>(v);
      e.attributes.productId = static_cast<uint16_t>(p);
      e.attributes.versionNumber = static_cast<uint16_t>(r);
    } else if (line == "UNPLUG") {
      e.present = false;
      e.sameChannel = false;
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

  auto feed = std::make_unique<LineFeed>(lines, expected.firstHid < 0 ? -1 : expected.firstHid + 1, expected.present);
  LineFeed* process = feed.get();
  std::shared_ptr<HidHost> host = MakeExecHost(std::move(feed));
  std::wstring path;
  if (expected.firstHid < 0) {
    process->WaitDrained();
    FUZZ_CHECK(!host->InterfacePath(0, path));
    return 0;
  }
  // Present from the first "HID" line: the channel opens before the rest arrives.
  FUZZ_CHECK(host->InterfacePath(0, path));
  FUZZ_CHECK(!host->InterfacePath(1, path));
  HidHandle reader = host->OpenPath(path, kGenericRead, kShareWrite, true);
  HidHandle writer = host->OpenPath(path, kGenericWrite, kShareRead, true);
  FUZZ_CHECK(IsValidHandle(reader) && IsValidHandle(writer));
  process->Release();
  process->WaitDrained();

  std::wstring now;
  FUZZ_CHECK(host->InterfacePath(0, now) == expected.present);
  if (expected.present) {
    HidHandle query = host->OpenPath(now, kNoAccess, kShareRead | kShareWrite, false);
    HidAttributes attributes;
    FUZZ_CHECK(host->GetAttributes(query, attributes));
    FUZZ_CHECK(attributes.vendorId == expected.attributes.vendorId &&
               attributes.productId == expected.attributes.productId &&
               attributes.versionNumber == expected.attributes.versionNumber);
    host->CloseHandle(query);
  }

  HidOverlapped record;
  if (expected.sameChannel) {
    for (const std::vector<uint8_t>& report : expected.reports) {
      uint8_t buffer[65];
      FUZZ_CHECK(host->ReadReport(reader, buffer, sizeof buffer, record, 0));
      for (size_t i = 0; i < sizeof buffer; ++i) FUZZ_CHECK(buffer[i] == (i < report.size() ? report[i] : 0));
    }
  }
  uint8_t buffer[4];
  FUZZ_CHECK(!host->ReadReport(reader, buffer, sizeof buffer, record, 0));

  // What the host writes is one "W" line the device can parse back; a channel
  // to a device that left writes nothing.
  const uint8_t out[4] = {0, data[0], static_cast<uint8_t>(size), 0x0B};
  const size_t before = process->written.size();
  FUZZ_CHECK(host->WriteReport(writer, out, sizeof out, record, 100) == expected.sameChannel);
  if (expected.sameChannel) {
    std::vector<uint8_t> echoed;
    FUZZ_CHECK(process->written.size() == before + 1 && process->written.back().rfind("W ", 0) == 0);
    FUZZ_CHECK(ParseHexBytes(process->written.back().substr(2), echoed));
    FUZZ_CHECK(echoed == std::vector<uint8_t>(out, out + sizeof out));
  }
  host->CloseHandle(reader);
  host->CloseHandle(writer);
  return 0;
}
