// The device protocols against a hostile device: one HID device whose
// replies, time-outs, late replies, failed writes and removals come from the
// input, on virtual time, driven through a sequence of the program's device
// operations. No crash, no hang, a result from each operation's own set, and
// after a failure a channel and memory image that the operation may leave.
#include <unistd.h>

#include <deque>
#include <map>
#include <filesystem>
#include <memory>
#include <vector>

#include "device/Altimeter.h"
#include "firmware/Bootloader.h"
#include "firmware/FirmwareFile.h"
#include "fuzz/FuzzSupport.h"

namespace {

const wchar_t kPath[] = L"\\\\?\\hid#vid_03db&pid_0002#fuzz#{4d1e55b2-f16f-11cf-88cb-001111000030}";

// Reply codes a device of this family sends; the input picks one of these
// most of the time and any byte now and then.
const uint8_t kCodes[] = {0, 5, 13, 15, 16, 17, 18, 19, 21, 1, 2};

class FuzzHost : public HidHost {
 public:
  explicit FuzzHost(FuzzReader& input) : input_(input) {}

  bool InterfacePath(uint32_t index, std::wstring& path) override {
    if (index != 0 || !present) return false;
    path = kPath;
    return true;
  }
  HidHandle OpenPath(const std::wstring& path, uint32_t access, uint32_t, bool) override {
    if (!present || path != kPath || refuseOpen) return kInvalidHidHandle;
    // A handle names the device's presence it was opened in: after a removal it stays stale.
    uintptr_t kind = access == kGenericRead ? 1 : access == kGenericWrite ? 2 : 3;
    HidHandle handle = reinterpret_cast<HidHandle>((generation_ << 4) | kind);
    ++open_[handle];
    return handle;
  }
  void CloseHandle(HidHandle handle) override {
    FUZZ_CHECK(open_[handle] > 0);
    --open_[handle];
  }
  bool GetAttributes(HidHandle handle, HidAttributes& attributes) override {
    if (!Live(handle)) return false;
    attributes.vendorId = kVendorId;
    attributes.productId = productId;
    attributes.versionNumber = version;
    return true;
  }
  HidEvent CreateIoEvent() override { return reinterpret_cast<HidEvent>(0x40); }
  void CloseIoEvent(HidEvent) override {}

  bool ReadReport(HidHandle handle, uint8_t* buffer, uint32_t length, HidOverlapped&, uint32_t timeoutMs) override {
    FUZZ_CHECK(length == 4 || length == kBootloaderReportSize);
    // The operations give up on the first read that fails; none tries again.
    FUZZ_CHECK(!readFailed);
    ++reads;
    if (!Live(handle)) return Fail(0);
    if (cancelAtRead >= 0 && reads > cancelAtRead && altimeter) altimeter->cancelRequested = true;
    if (!late_.empty()) {
      Deliver(late_.front(), buffer, length);
      late_.pop_front();
      nowMs += 1;
      return true;
    }
    if (input_.Empty()) return Fail(timeoutMs);  // a device that says no more
    uint8_t action = input_.Byte();
    switch (action & 7) {
      case 5:
        return Fail(timeoutMs);
      case 6:
        Remove();
        return Fail(1);
      case 7:
        // The reply comes, but after the time-out: the next read finds it.
        late_.push_back(MakeReply(length));
        return Fail(timeoutMs);
      default:
        Deliver(MakeReply(length), buffer, length);
        nowMs += 1;
        return true;
    }
  }
  bool WriteReport(HidHandle handle, const uint8_t*, uint32_t length, HidOverlapped&, uint32_t timeoutMs) override {
    FUZZ_CHECK(length == 4 || length == kBootloaderReportSize);
    FUZZ_CHECK(!readFailed);
    if (!Live(handle)) return false;
    if (writes++ == failWriteAt) {
      nowMs += timeoutMs;
      return false;
    }
    return true;
  }
  void Sleep(uint32_t ms) override { nowMs += ms; }
  void SetDeviceChangeSink(DeviceChangeSink) override {}

  bool Live(HidHandle handle) const {
    auto it = open_.find(handle);
    return present && it != open_.end() && it->second > 0 &&
           (reinterpret_cast<uintptr_t>(handle) >> 4) == generation_;
  }
  void Remove() {
    present = false;
    ++generation_;
    late_.clear();
  }
  void NewOperation() {
    readFailed = false;
    reads = 0;
  }
  int OpenHandles() const {
    int n = 0;
    for (const auto& [handle, count] : open_) n += count;
    return n;
  }

  bool present = true;
  bool refuseOpen = false;
  uint16_t productId = kApplicationProductId;
  uint16_t version = kRequiredVersion;
  int64_t failWriteAt = -1;
  int64_t cancelAtRead = -1;
  CAltimeter* altimeter = nullptr;
  bool readFailed = false;
  int64_t reads = 0;
  int64_t writes = 0;
  uint64_t nowMs = 0;

 private:
  bool Fail(uint32_t ms) {
    nowMs += ms;
    readFailed = true;
    return false;
  }
  std::vector<uint8_t> MakeReply(uint32_t length) {
    std::vector<uint8_t> reply(length, 0);
    uint8_t pick = input_.Byte();
    if (length == 4) {
      reply[1] = input_.Byte();
      reply[2] = input_.Byte();
      reply[3] = pick < 0xF0 ? kCodes[pick % sizeof kCodes] : input_.Byte();
    } else {
      // A bootloader answer: 1 = done, anything else a refusal; a version in bytes 1-2.
      reply[1] = pick < 0xC0 ? 1 : input_.Byte();
      reply[2] = pick < 0x80 ? 4 : input_.Byte();
    }
    return reply;
  }
  static void Deliver(const std::vector<uint8_t>& reply, uint8_t* buffer, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) buffer[i] = i < reply.size() ? reply[i] : 0;
  }

  FuzzReader& input_;
  std::deque<std::vector<uint8_t>> late_;
  std::map<HidHandle, int> open_;
  uintptr_t generation_ = 1;
};

// A small firmware file, written once: four blocks of which one is erased.
std::wstring FirmwarePath() {
  static const std::wstring path = [] {
    std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("ulk-fuzz-device-" + std::to_string(::getpid()) + ".dat");
    std::vector<uint8_t> image(4 * kFirmwareBlockSize, 0x3C);
    std::fill(image.begin() + kFirmwareBlockSize, image.begin() + 2 * kFirmwareBlockSize, 0xFF);
    WriteFirmwareFile(file.wstring(), image, static_cast<int32_t>(image.size()) - 1, 0x0400, 0x0401);
    static struct Remove {
      std::filesystem::path file;
      ~Remove() {
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
      }
    } remove{file};
    return file.wstring();
  }();
  return path;
}

bool IsCommandResult(CommandResult r) {
  return r == Ok || r == TransferError || r == ProtocolError || r == IoError;
}

class Progress : public PacketProgress, public ShowEmulationEvent, public UpdateProgress {
 public:
  void OnPacketProgress(int packetIndex, bool, bool) override { FUZZ_CHECK(packetIndex >= 0 && packetIndex < kMaxFlashPackets); }
  void OnEmulationEvent(uint8_t, int requestCount) override { FUZZ_CHECK(requestCount >= 0); }
  void OnUpdateProgress(int done, int all) override { FUZZ_CHECK(done >= 0 && done <= all); }
};

void RunOperation(uint8_t op, FuzzReader& input, FuzzHost& host, CAltimeter& alt) {
  Progress progress;
  host.NewOperation();
  const uint64_t startMs = host.nowMs;
  switch (op % 16) {
    case 0: {
      host.refuseOpen = (input.Byte() & 0x0F) == 0;
      uint16_t version = 0;
      ConnectResult r = alt.Connect(&version, input.Bit());
      host.refuseOpen = false;
      FUZZ_CHECK(r == Connected || r == NotFound || r == CannotOpen || r == IncompatibleVersion);
      FUZZ_CHECK(alt.IsOpen() == (r == Connected));
      break;
    }
    case 1: {
      // The device leaves, or comes back as either personality with any version.
      if (input.Bit()) host.Remove();
      host.present = input.Bit();
      host.productId = input.Bit() ? kBootloaderProductId : kApplicationProductId;
      host.version = input.Bit() ? kRequiredVersion | (input.Byte() & 0x0F) : input.Word();
      break;
    }
    case 2: {
      SettingsPacket before = alt.settings.packet;
      CommandResult r = alt.ReadSettings();
      FUZZ_CHECK(IsCommandResult(r));
      if (alt.bootloaderMode) FUZZ_CHECK(r == ProtocolError && alt.settings.packet == before);
      break;
    }
    case 3:
      alt.settings.packet[input.Byte() % kSettingsPacketSize] = input.Byte();
      FUZZ_CHECK(IsCommandResult(alt.WriteSettings()));
      break;
    case 4:
      FUZZ_CHECK(IsCommandResult(alt.ClearMemory()));
      FUZZ_CHECK(alt.comments.empty());
      break;
    case 5:
      FUZZ_CHECK(IsCommandResult(alt.ResetSettings()));
      break;
    case 6:
      FUZZ_CHECK(IsCommandResult(alt.FireLines()));
      break;
    case 7:
      FUZZ_CHECK(IsCommandResult(alt.EnterBootloader()));
      break;
    case 8: {
      float altitude = 0;
      FUZZ_CHECK(IsCommandResult(alt.ReadAltitude(altitude)));
      break;
    }
    case 9: {
      uint16_t voltage = 0;
      FUZZ_CHECK(IsCommandResult(alt.ReadVoltage(voltage)));
      break;
    }
    case 10:
    case 11: {
      host.cancelAtRead = op == 11 ? input.Word() : -1;
      CommandResult r = alt.ReadFlightMemory(&progress);
      host.cancelAtRead = -1;
      FUZZ_CHECK(IsCommandResult(r) || r == Cancelled);
      // Only whole, written packets are kept, and the comments follow the sets on success only.
      for (const CFlashPacket& p : alt.packets) FUZZ_CHECK(p.type != kErasedType);
      FUZZ_CHECK(alt.packets.size() <= static_cast<size_t>(kMaxFlashPackets));
      if (r == Ok)
        FUZZ_CHECK(alt.comments.size() == static_cast<size_t>(alt.CountDataSets()));
      else
        FUZZ_CHECK(alt.comments.empty());
      break;
    }
    case 12:
    case 13: {
      // Through the set that is selected, which may be none.
      alt.SelectDataSet(input.Byte() % 4);
      host.cancelAtRead = op == 13 ? input.Word() : -1;
      alt.EmulateLaunch(&progress);
      host.cancelAtRead = -1;
      break;
    }
    case 14: {
      uint16_t format = 0, hardware = 0, bootloader = 0, firmware = 0;
      UpdateResult r = alt.UpdateFirmware(&progress, FirmwarePath(), format, hardware, bootloader, firmware);
      FUZZ_CHECK(r == UpdateOk || r == UpdateProtocolError || r == UpdateIoError || r == UpdateChannelNotOpened ||
                 r == UpdateWrongHardwareVersion || r == UpdateNotInBootloaderMode);
      if (!alt.bootloaderMode) FUZZ_CHECK(r == UpdateNotInBootloaderMode && host.reads == 0);
      break;
    }
    case 15: {
      UpdateResult r = alt.LeaveBootloader();
      FUZZ_CHECK(r == UpdateOk || r == UpdateIoError || r == UpdateChannelNotOpened);
      // Whatever the answer, the channel is closed afterwards.
      FUZZ_CHECK(!alt.IsOpen());
      if (r == UpdateOk) FUZZ_CHECK(!alt.bootloaderMode);
      break;
    }
  }
  // No hang: every wait of the operation was bounded, and it stopped at the
  // first that ran out; nothing longer than the 60 s completion wait, plus
  // the 10 ms pauses and one frame per report that the device did send.
  FUZZ_CHECK(host.nowMs - startMs <= 60000 + 11 * static_cast<uint64_t>(host.reads) + kWriteTimeoutMs);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietFuzzing();
  FuzzReader input(data, size);
  auto host = std::make_shared<FuzzHost>(input);
  InstallHidHost(std::static_pointer_cast<HidHost>(host));
  {
    CAltimeter alt;
    host->altimeter = &alt;
    uint8_t failWrite = input.Byte();
    host->failWriteAt = failWrite == 0xFF ? -1 : failWrite;
    for (int operations = 0; operations < 12 && !input.Empty(); ++operations) RunOperation(input.Byte(), input, *host, alt);
    alt.Close();
    host->altimeter = nullptr;
  }
  // Every handle the channel opened was closed again.
  FUZZ_CHECK(host->OpenHandles() == 0);
  InstallHidHost(nullptr);
  return 0;
}
