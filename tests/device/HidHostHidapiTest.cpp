#include "device/HidHostHidapi.h"

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "device/Utf8.h"
#include "tests/TestSupport.h"
#include "tests/flightdata/FlightTestSupport.h"

namespace {

// hidapi as the host sees it, with devices that a test scripts: what they list,
// what each read gives, and what was written to them.
struct ScriptedDevice {
  HidapiDeviceRecord record;
  bool present = true;
  int openError = 0;                        // an open fails with this errno
  std::deque<std::vector<uint8_t>> input;   // payloads as hidraw gives them: no report id
  std::vector<std::vector<uint8_t>> written;
  std::vector<size_t> readLengths;
  std::vector<int> readTimeouts;
  bool vanishOnRead = false;                // leaves the bus while the next read waits
  int opens = 0;
  int transfers = 0;
};

class ScriptedHidapi {
 public:
  std::shared_ptr<ScriptedDevice> Add(const std::string& path, uint16_t product, uint16_t release,
                                      uint16_t vendor = kVendorId) {
    std::lock_guard<std::mutex> lock(mutex);
    auto device = std::make_shared<ScriptedDevice>();
    device->record = HidapiDeviceRecord{path, vendor, product, release};
    devices.push_back(device);
    return device;
  }

  HidapiCalls Calls() {
    HidapiCalls calls;
    calls.context = this;
    calls.enumerate = [](void* c, uint16_t vendor, std::vector<HidapiDeviceRecord>& out) {
      auto* self = static_cast<ScriptedHidapi*>(c);
      std::lock_guard<std::mutex> lock(self->mutex);
      out.clear();
      // Unfiltered on purpose: the host must not trust the vendor filter alone.
      (void)vendor;
      for (auto& d : self->devices)
        if (d->present) out.push_back(d->record);
      return true;
    };
    calls.openPath = [](void* c, const std::string& path, int& error) -> HidapiDevice {
      auto* self = static_cast<ScriptedHidapi*>(c);
      std::lock_guard<std::mutex> lock(self->mutex);
      for (auto& d : self->devices) {
        if (!d->present || d->record.path != path) continue;
        if (d->openError) {
          error = d->openError;
          return nullptr;
        }
        ++d->opens;
        self->open[++self->nextOpen] = d;
        return reinterpret_cast<HidapiDevice>(self->nextOpen);
      }
      error = ENOENT;
      return nullptr;
    };
    calls.close = [](void* c, HidapiDevice device) {
      auto* self = static_cast<ScriptedHidapi*>(c);
      std::lock_guard<std::mutex> lock(self->mutex);
      self->open.erase(reinterpret_cast<uintptr_t>(device));
    };
    calls.write = [](void* c, HidapiDevice device, const uint8_t* data, size_t length) {
      auto* self = static_cast<ScriptedHidapi*>(c);
      std::lock_guard<std::mutex> lock(self->mutex);
      auto d = self->open.at(reinterpret_cast<uintptr_t>(device));
      ++d->transfers;
      if (!d->present) return -1;
      d->written.emplace_back(data, data + length);
      return static_cast<int>(length);
    };
    calls.readTimeout = [](void* c, HidapiDevice device, uint8_t* data, size_t length, int ms) {
      auto* self = static_cast<ScriptedHidapi*>(c);
      std::lock_guard<std::mutex> lock(self->mutex);
      auto d = self->open.at(reinterpret_cast<uintptr_t>(device));
      ++d->transfers;
      d->readLengths.push_back(length);
      d->readTimeouts.push_back(ms);
      if (d->vanishOnRead) d->present = false;
      if (!d->present) return -1;
      if (d->input.empty()) return 0;  // hidapi's answer once the time-out has passed
      std::vector<uint8_t> report = std::move(d->input.front());
      d->input.pop_front();
      size_t n = std::min(length, report.size());
      std::copy(report.begin(), report.begin() + n, data);
      return static_cast<int>(n);
    };
    return calls;
  }

  std::mutex mutex;
  std::vector<std::shared_ptr<ScriptedDevice>> devices;
  std::map<uintptr_t, std::shared_ptr<ScriptedDevice>> open;
  uintptr_t nextOpen = 0x10;
};

// The device changes a sink was told, waited for as they come from the
// enumeration thread.
class ToldChanges {
 public:
  DeviceChangeSink Sink() {
    return [this](uint32_t event, const DeviceNotification& n) {
      std::lock_guard<std::mutex> lock(mutex_);
      told_.emplace_back(event, ToUtf8(n.name));
      cv_.notify_all();
    };
  }
  // The first count changes, waiting (bounded) for them to be told.
  std::vector<std::pair<uint32_t, std::string>> Wait(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, std::chrono::seconds(5), [&] { return told_.size() >= count; });
    return told_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::pair<uint32_t, std::string>> told_;
};

class HidHostHidapiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/ulk-hidapi-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    options.lockDir = dir;
    options.pollMs = 5;
  }
  void TearDown() override {
    InstallHidHost(nullptr);
    std::filesystem::remove_all(options.lockDir);
  }
  std::shared_ptr<HidHost> Host() {
    std::shared_ptr<HidHost> host = MakeHidapiHost(bus.Calls(), options);
    InstallHidHost(host);
    return host;
  }
  static std::wstring W(const std::string& s) { return FromUtf8(s); }

  TraceCapture trace;
  ScriptedHidapi bus;
  HidapiHostOptions options;
};

TEST_F(HidHostHidapiTest, TheWalkIsOrderedAndTheVersionIsTheReleaseNumber) {
  bus.Add("/dev/hidraw10", kApplicationProductId, 0x0405);
  bus.Add("/dev/hidraw2", kBootloaderProductId, 0x0400);
  bus.Add("/dev/hidraw2", kBootloaderProductId, 0x0400);  // a second collection of one node
  bus.Add("/dev/hidraw1", kApplicationProductId, 0x0405, 0x046d);  // another vendor's
  bus.Add("/dev/hidraw9", kApplicationProductId, 0x0310);
  std::shared_ptr<HidHost> host = Host();

  std::vector<std::string> paths;
  std::wstring path;
  for (uint32_t i = 0; host->InterfacePath(i, path); ++i) paths.push_back(ToUtf8(path));
  EXPECT_EQ(paths, (std::vector<std::string>{"/dev/hidraw2", "/dev/hidraw9", "/dev/hidraw10"}));

  std::vector<CHidDevice> found = CHidDevice::FindDevices(kApplicationProductId, 0, 0);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].devicePath, L"/dev/hidraw9");
  EXPECT_EQ(found[0].attributes.versionNumber, 0x0310);
  EXPECT_EQ(found[1].attributes.versionNumber, 0x0405);
  EXPECT_EQ(found[1].attributes.vendorId, kVendorId);
  EXPECT_EQ(CHidDevice::FindDevices(kApplicationProductId, 0x0400, 0xFFF0).size(), 1u);
  // The queries opened each node once and closed it again.
  EXPECT_TRUE(bus.open.empty());
}

TEST_F(HidHostHidapiTest, ReportIdIsPutInFrontOnReadsAndKeptOnWrites) {
  struct Case {
    uint32_t length;      // 4: application reports, 65: bootloader reports
    size_t payloadBytes;  // what the device sends, without the id
  };
  for (Case c : {Case{4, 3}, Case{65, 64}, Case{65, 10}}) {
    SCOPED_TRACE(c.length * 100 + c.payloadBytes);
    ScriptedHidapi scripted;
    auto device = scripted.Add("/dev/hidraw0", kApplicationProductId, 0x0405);
    std::shared_ptr<HidHost> host = MakeHidapiHost(scripted.Calls(), options);
    HidHandle reader = host->OpenPath(L"/dev/hidraw0", kGenericRead, kShareWrite, true);
    HidHandle writer = host->OpenPath(L"/dev/hidraw0", kGenericWrite, kShareRead, true);
    ASSERT_TRUE(IsValidHandle(reader) && IsValidHandle(writer));
    HidOverlapped record;

    std::vector<uint8_t> out(c.length);
    for (uint32_t i = 1; i < c.length; ++i) out[i] = static_cast<uint8_t>(i * 3);
    ASSERT_TRUE(host->WriteReport(writer, out.data(), c.length, record, kWriteTimeoutMs));
    EXPECT_EQ(device->written, (std::vector<std::vector<uint8_t>>{out}));

    std::vector<uint8_t> payload(c.payloadBytes);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(0x80 + i);
    device->input.push_back(payload);
    std::vector<uint8_t> in(c.length, 0xEE);
    ASSERT_TRUE(host->ReadReport(reader, in.data(), c.length, record, kReplyTimeoutMs));
    std::vector<uint8_t> expected(c.length, 0);
    std::copy(payload.begin(), payload.end(), expected.begin() + 1);
    EXPECT_EQ(in, expected);
    EXPECT_EQ(device->readLengths, (std::vector<size_t>{c.length - 1}));
    host->CloseHandle(reader);
    host->CloseHandle(writer);
    EXPECT_TRUE(scripted.open.empty());
  }
}

TEST_F(HidHostHidapiTest, AReadTimeOutLeavesTheChannelUsable) {
  auto device = bus.Add("/dev/hidraw0", kApplicationProductId, 0x0405);
  std::shared_ptr<HidHost> host = Host();
  ToldChanges told;
  host->SetDeviceChangeSink(told.Sink());
  CAltimeter altimeter;
  ASSERT_EQ(altimeter.Connect(nullptr, false), Connected);
  EXPECT_EQ(bus.open.size(), 1u);  // both directions share one open node

  uint16_t value = 0;
  uint8_t code = 0;
  EXPECT_FALSE(altimeter.ReceiveReply(value, &code, kEraseTimeoutMs));
  EXPECT_EQ(device->readTimeouts.back(), static_cast<int>(kEraseTimeoutMs));
  EXPECT_TRUE(altimeter.IsOpen());

  ASSERT_TRUE(altimeter.SendCommand(0x1234, 8));
  device->input.push_back({0x34, 0x12, 5});
  ASSERT_TRUE(altimeter.ReceiveReply(value, &code, kReplyTimeoutMs));
  EXPECT_EQ(value, 0x1234);
  EXPECT_EQ(code, 5);
  EXPECT_EQ(device->written.back(), (std::vector<uint8_t>{0, 0x34, 0x12, 8}));
  host->SetDeviceChangeSink(nullptr);
  EXPECT_TRUE(told.Wait(0).empty());
}

TEST_F(HidHostHidapiTest, ADeviceThatVanishesMidReadFailsTheTransferAndIsTold) {
  auto device = bus.Add("/dev/hidraw3", kApplicationProductId, 0x0405);
  std::shared_ptr<HidHost> host = Host();
  ToldChanges told;
  host->SetDeviceChangeSink(told.Sink());
  CAltimeter altimeter;
  ASSERT_EQ(altimeter.Connect(nullptr, false), Connected);

  device->vanishOnRead = true;
  uint16_t value = 0;
  EXPECT_FALSE(altimeter.ReceiveReply(value, nullptr, kReplyTimeoutMs));
  // Told before the read returned, not at some later poll.
  auto changes = told.Wait(0);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], (std::pair<uint32_t, std::string>{kDeviceRemoveComplete, "/dev/hidraw3"}));
  EXPECT_TRUE(altimeter.MatchesNotification(DeviceNotification{kDevTypDeviceInterface, W(changes[0].second)}));
  EXPECT_TRUE(trace.Has("hidapi: read failed on /dev/hidraw3"));

  // The stale channel fails at once without reaching the gone device again.
  int transfers = device->transfers;
  EXPECT_FALSE(altimeter.SendCommand(1, 8));
  EXPECT_FALSE(altimeter.ReceiveReply(value, nullptr, kReplyTimeoutMs));
  EXPECT_EQ(device->transfers, transfers);
  HidAttributes attributes;
  EXPECT_FALSE(host->GetAttributes(altimeter.readHandle, attributes));
  host->SetDeviceChangeSink(nullptr);
}

TEST_F(HidHostHidapiTest, TheEnumerationThreadTellsArrivalsAndRemovals) {
  bus.Add("/dev/hidraw0", kApplicationProductId, 0x0405, 0x046d);
  auto application = bus.Add("/dev/hidraw4", kApplicationProductId, 0x0405);
  std::shared_ptr<HidHost> host = Host();
  ToldChanges told;
  host->SetDeviceChangeSink(told.Sink());

  // A device restarting as its bootloader under the same node.
  {
    std::lock_guard<std::mutex> lock(bus.mutex);
    application->present = false;
  }
  ASSERT_EQ(told.Wait(1).size(), 1u);
  auto bootloader = bus.Add("/dev/hidraw4", kBootloaderProductId, 0x0400);
  ASSERT_EQ(told.Wait(2).size(), 2u);
  {
    std::lock_guard<std::mutex> lock(bus.mutex);
    bootloader->present = false;
    application->present = true;
  }
  std::vector<std::pair<uint32_t, std::string>> expected = {
      {kDeviceRemoveComplete, "/dev/hidraw4"}, {kDeviceArrival, "/dev/hidraw4"},
      {kDeviceRemoveComplete, "/dev/hidraw4"}, {kDeviceArrival, "/dev/hidraw4"}};
  EXPECT_EQ(told.Wait(4), expected);
  // The tool's round trip looks with a fresh walk: the application is back.
  EXPECT_EQ(CHidDevice::FindDevices(kApplicationProductId, 0, 0).size(), 1u);
  EXPECT_TRUE(CHidDevice::FindDevices(kBootloaderProductId, 0, 0).empty());
  host->SetDeviceChangeSink(nullptr);
}

TEST_F(HidHostHidapiTest, TheLockRefusesASecondProgramAndTheShareModesASecondReader) {
  bus.Add("/dev/hidraw5", kApplicationProductId, 0x0405);
  std::shared_ptr<HidHost> first = MakeHidapiHost(bus.Calls(), options);
  HidHandle reader = first->OpenPath(L"/dev/hidraw5", kGenericRead, kShareWrite, true);
  HidHandle writer = first->OpenPath(L"/dev/hidraw5", kGenericWrite, kShareRead, true);
  ASSERT_TRUE(IsValidHandle(reader) && IsValidHandle(writer));
  EXPECT_FALSE(IsValidHandle(first->OpenPath(L"/dev/hidraw5", kGenericRead, kShareWrite, true)));

  // Another program (here another host with its own lock) finds the device but
  // cannot open it.
  Host();
  CAltimeter altimeter;
  EXPECT_EQ(altimeter.Connect(nullptr, false), CannotOpen);
  EXPECT_TRUE(trace.Has("hidapi: /dev/hidraw5 is in use by another program."));

  // Closing one handle keeps the device; closing both lets the other in.
  first->CloseHandle(reader);
  EXPECT_EQ(altimeter.Connect(nullptr, false), CannotOpen);
  first->CloseHandle(writer);
  EXPECT_EQ(altimeter.Connect(nullptr, false), Connected);
}

TEST_F(HidHostHidapiTest, ANodeThisUserMayNotOpenIsSkippedAndNamed) {
  struct Case {
    int error;
    const char* note;
  };
  const Case cases[] = {
      {0, "Searched the hidraw devices through hidapi: no flight computer (vendor 03db) is present."},
      {EACCES,
       "/dev/hidraw7 (vendor 03db, product 0002) could not be opened: permission denied. Install the udev rule "
       "70-ulkusb.rules and plug the flight computer in again (see the README, Linux)."},
      {EBUSY, "/dev/hidraw7 (vendor 03db, product 0002) could not be opened: Device or resource busy."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    ScriptedHidapi scripted;
    if (c.error) scripted.Add("/dev/hidraw7", kApplicationProductId, 0x0405)->openError = c.error;
    std::shared_ptr<HidHost> host = MakeHidapiHost(scripted.Calls(), options);
    InstallHidHost(host);
    EXPECT_TRUE(CHidDevice::FindDevices(kApplicationProductId, 0, 0).empty());
    EXPECT_EQ(EmptyBusNote(*host), c.note);
  }
}

// The simulated flight computer behind hidapi's calls: what hidraw would hand
// up from it (reads without the report id), so the protocol code runs over the
// hidapi host exactly as over the simulator.
class SimulatedHidapi {
 public:
  explicit SimulatedHidapi(std::shared_ptr<SimHost> sim) : sim_(std::move(sim)), event_(sim_->CreateIoEvent()) {}

  HidapiCalls Calls() {
    HidapiCalls calls;
    calls.context = this;
    calls.enumerate = [](void* c, uint16_t, std::vector<HidapiDeviceRecord>& out) {
      auto* self = static_cast<SimulatedHidapi*>(c);
      out.clear();
      std::wstring path;
      for (uint32_t i = 0; self->sim_->InterfacePath(i, path); ++i) {
        HidHandle query = self->sim_->OpenPath(path, kNoAccess, kShareRead | kShareWrite, false);
        HidAttributes a;
        if (self->sim_->GetAttributes(query, a))
          out.push_back(HidapiDeviceRecord{ToUtf8(path), a.vendorId, a.productId, a.versionNumber});
        self->sim_->CloseHandle(query);
      }
      return true;
    };
    calls.openPath = [](void* c, const std::string& path, int& error) -> HidapiDevice {
      auto* self = static_cast<SimulatedHidapi*>(c);
      HidHandle h = self->sim_->OpenPath(FromUtf8(path), kGenericRead | kGenericWrite, kShareRead | kShareWrite, true);
      if (IsValidHandle(h)) return h;
      error = EBUSY;
      return nullptr;
    };
    calls.close = [](void* c, HidapiDevice device) { static_cast<SimulatedHidapi*>(c)->sim_->CloseHandle(device); };
    calls.write = [](void* c, HidapiDevice device, const uint8_t* data, size_t length) {
      auto* self = static_cast<SimulatedHidapi*>(c);
      HidOverlapped record{0, 0, self->event_};
      bool ok = self->sim_->WriteReport(device, data, static_cast<uint32_t>(length), record, kWriteTimeoutMs);
      return ok ? static_cast<int>(length) : -1;
    };
    calls.readTimeout = [](void* c, HidapiDevice device, uint8_t* data, size_t length, int ms) {
      auto* self = static_cast<SimulatedHidapi*>(c);
      HidOverlapped record{0, 0, self->event_};
      uint8_t report[66] = {};
      if (length + 1 > sizeof report) return -1;
      if (!self->sim_->ReadReport(device, report, static_cast<uint32_t>(length + 1), record, ms)) return 0;
      std::copy(report + 1, report + 1 + length, data);
      return static_cast<int>(length);
    };
    return calls;
  }

 private:
  std::shared_ptr<SimHost> sim_;
  HidEvent event_;
};

class HidapiProtocolTest : public HidHostHidapiTest {
 protected:
  void SetUp() override {
    HidHostHidapiTest::SetUp();
    std::string error;
    sim = MakeSimHost("clock=virtual", error);
    ASSERT_TRUE(sim) << error;
    simulated = std::make_unique<SimulatedHidapi>(sim);
    InstallHidHost(MakeHidapiHost(simulated->Calls(), options));
    ASSERT_EQ(altimeter.Connect(nullptr, false), Connected);
  }
  void TearDown() override {
    altimeter.Close();
    HidHostHidapiTest::TearDown();
  }
  std::shared_ptr<SimHost> sim;
  std::unique_ptr<SimulatedHidapi> simulated;
  CAltimeter altimeter;
};

TEST_F(HidapiProtocolTest, SettingsAreReadOverHidapi) {
  for (size_t i = 0; i < 22; ++i) sim->devices[0]->settingsStore[i] = static_cast<uint8_t>(0xA0 + i);
  ASSERT_EQ(altimeter.ReadSettings(), Ok);
  for (size_t i = 0; i < 22; ++i) EXPECT_EQ(altimeter.settings.packet[i], 0xA0 + i) << "byte " << i;
  EXPECT_TRUE(trace.Has("Done."));
}

TEST_F(HidapiProtocolTest, AShortDownloadOverHidapi) {
  SimFlightComputer& device = *sim->devices[0];
  std::fill(device.flash.begin(), device.flash.end(), 0xFF);
  const CFlashPacket packets[] = {RampPacket(2, 13200, 10), RampPacket(3, 13350, 10), RampPacket(2, 20000, 1)};
  for (size_t i = 0; i < 3; ++i) {
    std::array<uint8_t, 64> bytes = packets[i].ToBytes();
    std::copy(bytes.begin(), bytes.end(), device.flash.begin() + 64 * i);
  }
  ASSERT_EQ(altimeter.ReadFlightMemory(nullptr), Ok);
  ASSERT_EQ(altimeter.packets.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(altimeter.packets[i].ToBytes(), packets[i].ToBytes()) << "packet " << i;
  EXPECT_EQ(altimeter.CountDataSets(), 2);
}

}  // namespace

namespace {

// `ulktool devices` on this machine's real bus, which has no flight computer
// here: the first line stays, the second is what the platform host tells.
TEST(HidapiTool, DevicesOnTheRealBusSaysWhereItLooked) {
  char dir[] = "/tmp/ulk-devices-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string err = std::string(dir) + "/err";
  int status = std::system(("env -u ULKUSB_DEVICE '" ULKTOOL_PATH "' devices >/dev/null 2>'" + err + "'").c_str());
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 0) GTEST_SKIP() << "a flight computer is plugged into this machine";
  EXPECT_EQ(WEXITSTATUS(status), 3);

  std::shared_ptr<HidHost> platform = MakePlatformHidHost();
  InstallHidHost(platform);
  EXPECT_TRUE(CHidDevice::FindDevices(kBootloaderProductId, 0, 0).empty());
  const std::string note = EmptyBusNote(*platform);
  InstallHidHost(nullptr);

  std::ifstream in(err);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"Device not found.", note}));
  EXPECT_FALSE(note.empty());
  std::filesystem::remove_all(dir);
}

}  // namespace
