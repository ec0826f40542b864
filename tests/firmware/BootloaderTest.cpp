#include "firmware/Bootloader.h"

#include <climits>

#include "firmware/UpdateFileCheck.h"
#include "firmware/UpdateMessages.h"
#include "simulator/SimBootloader.h"
#include "tests/firmware/FirmwareFixture.h"

namespace {

std::vector<uint8_t> Report(std::initializer_list<uint8_t> head) {
  std::vector<uint8_t> report(kBootloaderReportSize, 0);
  std::copy(head.begin(), head.end(), report.begin());
  return report;
}

const std::vector<uint8_t> kReadHardware = Report({0, 1});
const std::vector<uint8_t> kErase = Report({0, 4});
const std::vector<uint8_t> kWriteBlock = Report({0, 2});

struct ProgressLog : UpdateProgress {
  void OnUpdateProgress(int done, int all) override { calls.emplace_back(done, all); }
  std::vector<std::pair<int, int>> calls;
};

class BootloaderTest : public SimTest {
 protected:
  void SetUp() override { UseScenario("bootloader"); }

  // Connects in bootloader mode; every report written from then on is kept.
  void ConnectBootloader() {
    ASSERT_EQ(Alt().Connect(nullptr, true), Connected);
    Bus().recordWrites = true;
  }
  std::wstring Pack(const std::vector<uint8_t>& image, int32_t length, uint16_t bootloader = 0x0400,
                    uint16_t firmware = 0x0401) {
    EXPECT_TRUE(WriteFirmwareFile(dir.WidePath("f.dat"), image, length, bootloader, firmware));
    return dir.WidePath("f.dat");
  }
  UpdateResult Update(const std::wstring& path) {
    versions = UpdateVersions{};
    return Alt().UpdateFirmware(&progress, path, versions.formatVersion, versions.hardwareVersion,
                                versions.requiredBootloaderVersion, versions.firmwareVersion);
  }
  std::vector<std::vector<uint8_t>> Written() const {
    std::vector<std::vector<uint8_t>> reports;
    for (const auto& [slot, bytes] : host->Bus().written) reports.push_back(bytes);
    return reports;
  }
  // The addresses of the block writes, after the hardware read and the erase.
  std::vector<uint32_t> BlockAddresses() const {
    std::vector<std::vector<uint8_t>> w = Written();
    std::vector<uint32_t> addresses;
    for (size_t i = 2; i + 2 < w.size(); i += 3) {
      EXPECT_EQ(w[i], kWriteBlock);
      addresses.push_back(uint32_t{w[i + 1][1]} | uint32_t{w[i + 1][2]} << 8 | uint32_t{w[i + 1][3]} << 16 |
                          uint32_t{w[i + 1][4]} << 24);
    }
    return addresses;
  }

  ScratchDir dir;
  ProgressLog progress;
  UpdateVersions versions;
};

struct RangeCase {
  const char* name;
  std::vector<uint8_t> image;
  int32_t length;
  int total;                         // blocksInAll of every progress report
  std::vector<uint32_t> addresses;  // the blocks written
};

std::vector<uint8_t> WithErasedBlock(std::vector<uint8_t> image, size_t block) {
  std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(block * 64), 64, uint8_t{0xFF});
  return image;
}

TEST_F(BootloaderTest, BlocksProgrammedForALength) {
  const RangeCase cases[] = {
      {"length 128, block 2 in use", PatternImage(192), 128, 2, {0, 64, 128}},
      {"length 128, block 2 erased", PatternImage(128), 128, 2, {0, 64}},
      {"length 100 takes block 1 whole", PatternImage(128), 100, 1, {0, 64}},
      {"erased block in the middle", WithErasedBlock(PatternImage(256), 1), 256, 4, {0, 128, 192}},
      {"length 0 still takes block 0", PatternImage(64), 0, 0, {0}},
  };
  for (const RangeCase& c : cases) {
    SCOPED_TRACE(c.name);
    UseScenario("bootloader");
    ConnectBootloader();
    progress.calls.clear();
    ASSERT_EQ(Update(Pack(c.image, c.length)), UpdateOk);
    std::vector<std::pair<int, int>> expectedCalls;
    for (int b = 0; b <= c.total; ++b) expectedCalls.emplace_back(b, c.total);
    EXPECT_EQ(progress.calls, expectedCalls);
    EXPECT_EQ(BlockAddresses(), c.addresses);
    // What the device holds is the file's image over the blocks considered, beyond length included.
    std::vector<uint8_t> expected = c.image;
    expected.resize(static_cast<size_t>(kFirmwareImageSize), 0xFF);
    std::fill(expected.begin() + (c.total + 1) * 64, expected.end(), uint8_t{0xFF});
    EXPECT_EQ(Device().programImage, expected);
  }
}

TEST_F(BootloaderTest, ABlockWriteIsThreeReportsAndOneAnswer) {
  ConnectBootloader();
  std::vector<uint8_t> image = WithErasedBlock(PatternImage(128), 0);
  TraceCapture trace;
  ASSERT_EQ(Update(Pack(image, 64)), UpdateOk);
  std::vector<uint8_t> address = Report({0, 0x40, 0, 0, 0});
  std::vector<uint8_t> data = Report({0});
  std::copy(image.begin() + 64, image.end(), data.begin() + 1);
  EXPECT_EQ(Written(), (std::vector<std::vector<uint8_t>>{kReadHardware, kErase, kWriteBlock, address, data}));
  // One answer each to the hardware read, the erase and the block, and none left unread.
  EXPECT_EQ(Device().repliesSent, 3);
  EXPECT_TRUE(Bus().Slot(0).input.empty());
  EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"Reading file.", "MaxBlockIndex: 1", "Connected to device.",
                                                     "Hardware Version: 0400", "Erasing... done."}));
  EXPECT_EQ(versions.formatVersion, 0x0100);
  EXPECT_EQ(versions.hardwareVersion, 0x0400);
  EXPECT_EQ(versions.requiredBootloaderVersion, 0x0400);
  EXPECT_EQ(versions.firmwareVersion, 0x0401);
  // The update ends there: the bootloader is not told to start the firmware.
  EXPECT_TRUE(Alt().IsOpen());
  EXPECT_TRUE(Device().InBootloader());
}

TEST_F(BootloaderTest, AFullImageProgramsBlocksZeroTo2047AndNoneBeyond) {
  ConnectBootloader();
  const std::vector<uint8_t> image = PatternImage(kFirmwareImageSize);
  TraceCapture trace;
  ASSERT_EQ(Update(Pack(image, kFirmwareImageSize)), UpdateOk);
  EXPECT_TRUE(trace.Has("MaxBlockIndex: 2047"));
  std::vector<uint32_t> addresses = BlockAddresses();
  ASSERT_EQ(addresses.size(), 2048u);
  EXPECT_EQ(addresses.back(), 2047u * 64);
  EXPECT_EQ(progress.calls.back(), std::make_pair(2047, 2047));
  EXPECT_EQ(Device().programImage, image);
}

struct RefusedCase {
  const char* name;
  std::vector<uint8_t> bytes;  // the file; empty: none
  UpdateResult result;
  UpdateVersions versions;
};

std::vector<uint8_t> PackedBytes(const ScratchDir& dir, int32_t length, uint16_t bootloader, uint16_t firmware,
                                 const std::vector<uint8_t>& image = PatternImage(100)) {
  EXPECT_TRUE(WriteFirmwareFile(dir.WidePath("p.dat"), image, length, bootloader, firmware));
  return ReadFileBytes<std::vector<uint8_t>>(dir.Path("p.dat"));
}

TEST_F(BootloaderTest, FileChecksComeBeforeAnythingIsSent) {
  ScratchDir scratch;
  std::vector<uint8_t> wrongMagic = PackedBytes(scratch, 100, 0x0400, 0x0401);
  wrongMagic[15] ^= 1;
  std::vector<uint8_t> thirty = FirmwareHeader();
  thirty.resize(30, 0);
  const RefusedCase cases[] = {
      {"no file", {}, UpdateFileNotOpened, {}},
      {"wrong magic", wrongMagic, UpdateNotFirmwareFile, {}},
      {"thirty bytes", thirty, UpdateProtocolError, {}},
      {"format 1.01", FirmwareHeader(0x0101), UpdateWrongFormatVersion, {0x0101, 0, 0, 0}},
      {"bootloader 4.10", PackedBytes(scratch, 100, 0x0410, 0x0401), UpdateWrongBootloaderVersion,
       {0x0100, 0, 0x0410, 0}},
      {"firmware 5.00", PackedBytes(scratch, 100, 0x0400, 0x0500), UpdateWrongFirmwareVersion,
       {0x0100, 0, 0x0400, 0x0500}},
      {"length -1", PackedBytes(scratch, -1, 0x0400, 0x0401), UpdateNotFirmwareFile, {0x0100, 0, 0x0400, 0x0401}},
      {"length 131073", PackedBytes(scratch, 131073, 0x0400, 0x0401), UpdateNotFirmwareFile,
       {0x0100, 0, 0x0400, 0x0401}},
      {"length INT32_MIN", PackedBytes(scratch, INT32_MIN, 0x0400, 0x0401), UpdateNotFirmwareFile,
       {0x0100, 0, 0x0400, 0x0401}},
      // A length that stops short of the image's data would program part of it.
      {"length short of the data", PackedBytes(scratch, 10, 0x0400, 0x0401), UpdateNotFirmwareFile,
       {0x0100, 0, 0x0400, 0x0401}},
      // An image that programs nothing would leave the device erased.
      {"a blank image", PackedBytes(scratch, 100, 0x0400, 0x0401, std::vector<uint8_t>(100, 0xFF)),
       UpdateNotFirmwareFile, {0x0100, 0, 0x0400, 0x0401}},
  };
  ConnectBootloader();
  Device().programImage[0] = 0x5A;  // an erase would show
  for (const RefusedCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir.Path("f.dat"));
    if (!c.bytes.empty()) WriteFileBytes(dir.Path("f.dat"), c.bytes);
    EXPECT_EQ(Update(dir.WidePath("f.dat")), c.result);
    EXPECT_EQ(versions.formatVersion, c.versions.formatVersion);
    EXPECT_EQ(versions.hardwareVersion, 0);
    EXPECT_EQ(versions.requiredBootloaderVersion, c.versions.requiredBootloaderVersion);
    EXPECT_EQ(versions.firmwareVersion, c.versions.firmwareVersion);
    // The check made before a device is sent into its bootloader agrees.
    FirmwareImage image;
    UpdateVersions checked;
    EXPECT_EQ(CheckFirmwareFile(dir.WidePath("f.dat"), image, checked), c.result);
    EXPECT_EQ(checked.formatVersion, c.versions.formatVersion);
    EXPECT_EQ(checked.requiredBootloaderVersion, c.versions.requiredBootloaderVersion);
    EXPECT_EQ(checked.firmwareVersion, c.versions.firmwareVersion);
  }
  EXPECT_TRUE(Written().empty());
  EXPECT_TRUE(progress.calls.empty());
  EXPECT_EQ(Device().programImage[0], 0x5A);
}

TEST_F(BootloaderTest, AnApplicationFirmwareIsToldNothing) {
  UseScenario("");
  ASSERT_EQ(Alt().Connect(nullptr, false), Connected);
  Bus().recordWrites = true;
  EXPECT_EQ(Update(Pack(PatternImage(100), 100)), UpdateNotInBootloaderMode);
  EXPECT_TRUE(Written().empty());
  EXPECT_EQ(versions.firmwareVersion, 0x0401);
  EXPECT_EQ(UpdateResultLines(UpdateNotInBootloaderMode, versions),
            std::vector<std::wstring>{L"The device is not in bootloader mode."});

  // In bootloader mode, but the channel does not open: told by no lines of its own.
  altimeter = std::make_unique<CAltimeter>();
  Alt().bootloaderMode = true;
  EXPECT_EQ(Update(dir.WidePath("f.dat")), UpdateChannelNotOpened);
  EXPECT_TRUE(Written().empty());
  EXPECT_TRUE(UpdateResultLines(UpdateChannelNotOpened, versions).empty());
}

TEST_F(BootloaderTest, ForeignHardwareIsRefusedAfterTheReadAndBeforeTheErase) {
  UseScenario("bootloader,hardware-version=0x0300");
  ConnectBootloader();
  Device().programImage[0] = 0x5A;
  TraceCapture trace;
  EXPECT_EQ(Update(Pack(PatternImage(100), 100)), UpdateWrongHardwareVersion);
  EXPECT_EQ(versions.hardwareVersion, 0x0300);
  EXPECT_EQ(Written(), std::vector<std::vector<uint8_t>>{kReadHardware});
  EXPECT_EQ(Device().programImage[0], 0x5A);
  EXPECT_FALSE(trace.Has("Hardware Version: 0300"));
}

struct FaultCase {
  const char* name;
  void (*inject)(SimFaults&);
  UpdateResult result;
  const char* lastTrace;
  size_t blocksWritten;  // blocks the device holds afterwards
  uint64_t waitedUs;     // at least this long on the bus clock
};

TEST_F(BootloaderTest, DeviceFailuresEndTheUpdateWithTheirResult) {
  const FaultCase cases[] = {
      {"erase never answered", [](SimFaults& f) { f.noEraseAnswer = true; }, UpdateIoError,
       "Erasing... Failed to read. Timeout.", 0, 15000000},
      {"block 1 answered 0", [](SimFaults& f) { f.refuseBlock = 1; }, UpdateProtocolError, "Protocol error.", 1, 0},
      {"removed at block 2", [](SimFaults& f) { f.removeAtBlock = 2; }, UpdateIoError, "Failed to read.", 2, 0},
      // Writes: hardware read 0, erase 1, block 0 command 2, its address 3.
      {"address write fails", [](SimFaults& f) { f.failWriteAt = 3; }, UpdateIoError, "Failed to write.", 0, 0},
  };
  const std::vector<uint8_t> image = PatternImage(64 * 4);
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    UseScenario("bootloader");
    c.inject(Device().faults);
    ConnectBootloader();
    TraceCapture trace;
    uint64_t start = Bus().Now();
    EXPECT_EQ(Update(Pack(image, 200)), c.result);
    ASSERT_FALSE(trace.Lines().empty());
    EXPECT_EQ(trace.Lines().back(), c.lastTrace);
    for (size_t b = 0; b < 4; ++b) {
      bool held = Device().programImage[b * 64] == image[b * 64];
      EXPECT_EQ(held, b < c.blocksWritten) << "block " << b;
    }
    EXPECT_GE(Bus().Now() - start, c.waitedUs);
  }
}

TEST_F(BootloaderTest, SimulatedBootloaderRefusesBlocksOutsideItsFlash) {
  ConnectBootloader();
  const std::pair<uint32_t, uint8_t> cases[] = {
      {0, 1}, {131008, 1}, {131009, 0}, {131072, 0}, {0xFFFFFFC0u, 0},
  };
  for (const auto& [address, answer] : cases) {
    SCOPED_TRACE(address);
    std::vector<uint8_t> addressReport = Report({0, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                                                 static_cast<uint8_t>(address >> 16),
                                                 static_cast<uint8_t>(address >> 24)});
    std::vector<uint8_t> data = Report({0, 0x11, 0x22});
    for (const std::vector<uint8_t>& r : {kWriteBlock, addressReport, data})
      ASSERT_TRUE(Alt().WriteReport(r.data(), kBootloaderReportSize));
    std::vector<uint8_t> reply(kBootloaderReportSize, 0xEE);
    ASSERT_TRUE(Alt().ReadReport(reply.data(), kBootloaderReportSize, 3000));
    EXPECT_EQ(reply[1], answer);
    if (answer == 1) {
      EXPECT_EQ(Device().programImage[address], 0x11);
    }
  }
}

TEST_F(BootloaderTest, LeaveBootloaderClosesAndTheApplicationComesBack) {
  ConnectBootloader();
  Alt().cancelRequested = true;
  EXPECT_EQ(Alt().LeaveBootloader(), UpdateOk);
  EXPECT_EQ(Written(), std::vector<std::vector<uint8_t>>{Report({0, 3})});
  EXPECT_FALSE(Alt().IsOpen());
  EXPECT_FALSE(Alt().bootloaderMode);
  EXPECT_FALSE(Alt().cancelRequested);
  CurrentHidHost().Sleep(SimBootloader::kRestartUs / 1000 + 10);
  uint16_t version = 0;
  EXPECT_EQ(Alt().Connect(&version, false), Connected);
  EXPECT_EQ(version, 0x0405);
}

TEST_F(BootloaderTest, LeaveBootloaderFailures) {
  ConnectBootloader();
  Device().faults.failWriteAt = 0;
  TraceCapture trace;
  EXPECT_EQ(Alt().LeaveBootloader(), UpdateIoError);
  EXPECT_TRUE(trace.Has("Failed to write."));
  EXPECT_FALSE(Alt().IsOpen());  // a channel whose write failed is not kept

  CAltimeter unassigned;
  EXPECT_EQ(unassigned.LeaveBootloader(), UpdateChannelNotOpened);
}

}  // namespace
