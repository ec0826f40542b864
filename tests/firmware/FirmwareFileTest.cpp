#include "firmware/FirmwareFile.h"

#include <climits>
#include <sstream>
#include <tuple>

#include "tests/firmware/FirmwareFixture.h"

namespace {

TEST(FirmwareFileTest, PackThenLoadGivesBackTheImage) {
  ScratchDir dir;
  const std::vector<uint8_t> image = PatternImage(1000);
  ASSERT_TRUE(WriteFirmwareFile(dir.WidePath("a.dat"), image, 1000, 0x0402, 0x0401));

  // On disk every little-endian word is XORed with 0xC7B2, padding included.
  std::vector<uint8_t> file = ReadFileBytes<std::vector<uint8_t>>(dir.Path("a.dat"));
  ASSERT_EQ(file.size(), kFirmwareFileSize);
  EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 22), FirmwareHeader(0x0100, 0x0402, 0x0401));
  EXPECT_EQ(file[22], image[0] ^ 0xB2);
  EXPECT_EQ(file[23], image[1] ^ 0xC7);
  EXPECT_EQ(file[22 + 1000], 0xFF ^ 0xB2);
  EXPECT_EQ(file[22 + 1001], 0xFF ^ 0xC7);
  EXPECT_EQ(std::vector<uint8_t>(file.end() - 4, file.end()), (std::vector<uint8_t>{0xE8, 0x03, 0, 0}));

  // Bytes after the length field are ignored.
  file.insert(file.end(), {1, 2, 3});
  WriteFileBytes(dir.Path("a.dat"), file);
  FirmwareImage loaded;
  uint16_t format = 0, bootloader = 0, firmware = 0;
  TraceCapture trace;
  ASSERT_EQ(LoadFirmwareFile(dir.WidePath("a.dat"), loaded, format, bootloader, firmware), FirmwareFileRead);
  EXPECT_EQ(trace.Lines(), std::vector<std::string>{"Reading file."});
  EXPECT_EQ(format, 0x0100);
  EXPECT_EQ(bootloader, 0x0402);
  EXPECT_EQ(firmware, 0x0401);
  EXPECT_EQ(loaded.length, 1000);
  std::vector<uint8_t> expected = image;
  expected.resize(kFirmwareImageSize, 0xFF);
  EXPECT_EQ(loaded.buffer, expected);
}

TEST(FirmwareFileTest, ScrambleXorsEachWordWhateverTheLengthAndAlignment) {
  // Against the rule byte by byte: even offsets take 0xB2, odd ones 0xC7, and
  // an odd last byte is left alone.
  std::vector<uint8_t> backing = PatternImage(64);
  for (size_t start : {0u, 1u, 3u}) {
    for (size_t size : {0u, 1u, 2u, 7u, 8u, 9u, 15u, 16u, 17u, 23u}) {
      std::vector<uint8_t> bytes = backing;
      ScrambleFirmware(bytes.data() + start, size);
      for (size_t i = 0; i < bytes.size(); ++i) {
        const bool inside = i >= start && i - start < size - size % 2;
        const uint8_t key = (i - start) % 2 == 0 ? 0xB2 : 0xC7;
        EXPECT_EQ(bytes[i], inside ? backing[i] ^ key : backing[i]) << "start " << start << " size " << size << " at " << i;
      }
    }
  }
}

TEST(FirmwareFileTest, PackRefusesAnImageLargerThanTheFlash) {
  ScratchDir dir;
  EXPECT_FALSE(WriteFirmwareFile(dir.WidePath("a.dat"), PatternImage(kFirmwareImageSize + 1), 0, 0x0400, 0x0401));
  EXPECT_FALSE(std::filesystem::exists(dir.Path("a.dat")));
}

struct LoadCase {
  const char* name;
  std::vector<uint8_t> bytes;  // empty: no file
  FirmwareFileResult result;
  uint16_t format, bootloader, firmware;
};

TEST(FirmwareFileTest, DamagedFilesAreToldAndLeaveTheImageAsItWas) {
  std::vector<uint8_t> wrongMagic = FirmwareHeader();
  wrongMagic[0] = 0x31;
  std::vector<uint8_t> thirty = FirmwareHeader(0x0100, 0x0403, 0x0402);
  thirty.resize(30, 0x55);
  std::vector<uint8_t> noLength = FirmwareHeader();
  noLength.resize(kFirmwareFileSize - 1, 0x4D);
  std::vector<uint8_t> magicOnly(kFirmwareMagic.begin(), kFirmwareMagic.begin() + 10);
  const LoadCase cases[] = {
      {"no file", {}, FirmwareFileNotOpened, 0, 0, 0},
      {"wrong magic", wrongMagic, FirmwareFileWrongMagic, 0, 0, 0},
      {"ten bytes", magicOnly, FirmwareFileEndedEarly, 0, 0, 0},
      {"format 1.01", FirmwareHeader(0x0101), FirmwareFileWrongFormat, 0x0101, 0, 0},
      {"thirty bytes", thirty, FirmwareFileEndedEarly, 0x0100, 0x0403, 0x0402},
      {"no length field", noLength, FirmwareFileEndedEarly, 0x0100, 0x0400, 0x0401},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    if (!c.bytes.empty()) WriteFileBytes(dir.Path("f.dat"), c.bytes);
    FirmwareImage image;
    image.length = 77;
    image.buffer[0] = 0x12;
    uint16_t format = 0, bootloader = 0, firmware = 0;
    EXPECT_EQ(LoadFirmwareFile(dir.WidePath("f.dat"), image, format, bootloader, firmware), c.result);
    EXPECT_EQ(format, c.format);
    EXPECT_EQ(bootloader, c.bootloader);
    EXPECT_EQ(firmware, c.firmware);
    EXPECT_EQ(image.length, 77);
    EXPECT_EQ(image.buffer[0], 0x12);
    EXPECT_EQ(image.buffer.size(), static_cast<size_t>(kFirmwareImageSize));
    if (c.bytes.empty()) continue;
    // The same bytes from memory are read the same way.
    std::istringstream in(std::string(c.bytes.begin(), c.bytes.end()));
    uint16_t f2 = 0, b2 = 0, w2 = 0;
    EXPECT_EQ(ReadFirmware(in, image, f2, b2, w2), c.result);
    EXPECT_EQ(std::tie(f2, b2, w2), std::tie(c.format, c.bootloader, c.firmware));
    EXPECT_EQ(image.length, 77);
  }
}

TEST(FirmwareFileTest, WrongMagicTracesBothGuids) {
  ScratchDir dir;
  std::vector<uint8_t> bytes = FirmwareHeader();
  for (int i = 0; i < 16; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  WriteFileBytes(dir.Path("f.dat"), bytes);
  FirmwareImage image;
  uint16_t format = 0, bootloader = 0, firmware = 0;
  TraceCapture trace;
  EXPECT_EQ(LoadFirmwareFile(dir.WidePath("f.dat"), image, format, bootloader, firmware), FirmwareFileWrongMagic);
  EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"Reading file.", "Wrong GUID.",
                                                     "{03020100-0504-0706-0809-0A0B0C0D0E0F}",
                                                     "{3DBEFF30-B961-4A71-C5E7-E53213A3E2C2}"}));
}

TEST(FirmwareFileTest, LastBlockOfALength) {
  const std::pair<int32_t, int32_t> cases[] = {
      {0, 0},         {63, 0},           {64, 1},      {100, 1},          {128, 2},
      {131071, 2047}, {131072, 2047},  // a full image ends at block 2047
      {-1, -1},       {-64, -1},         {131073, -1}, {INT32_MIN, -1},   {INT32_MAX, -1},
  };
  for (const auto& [length, last] : cases) EXPECT_EQ(FirmwareLastBlock(length), last) << length;
}

}  // namespace
