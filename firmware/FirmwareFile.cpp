#include "firmware/FirmwareFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "device/TraceLog.h"
#include "device/Utf8.h"

const std::array<uint8_t, 16> kFirmwareMagic = {0x30, 0xFF, 0xBE, 0x3D, 0x61, 0xB9, 0x71, 0x4A,
                                                0xC5, 0xE7, 0xE5, 0x32, 0x13, 0xA3, 0xE2, 0xC2};

namespace {

bool ReadExactly(std::istream& in, uint8_t* buffer, size_t size) {
  in.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(size));
  return static_cast<size_t>(in.gcount()) == size;
}

bool ReadWord(std::istream& in, uint16_t& value) {
  uint8_t bytes[2];
  if (!ReadExactly(in, bytes, 2)) return false;
  value = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
  return true;
}

void PutLittleEndian(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

bool FirmwareImage::BlockIsErased(int32_t block) const {
  const uint8_t* bytes = Block(block);
  return std::all_of(bytes, bytes + kFirmwareBlockSize, [](uint8_t b) { return b == 0xFF; });
}

void ScrambleFirmware(uint8_t* bytes, size_t size) {
  // Eight bytes at a time (the key repeats every two), then the rest byte by
  // byte; an odd last byte stays as it is.
  const uint8_t keyBytes[8] = {kFirmwareScramble & 0xFF, kFirmwareScramble >> 8, kFirmwareScramble & 0xFF,
                               kFirmwareScramble >> 8, kFirmwareScramble & 0xFF, kFirmwareScramble >> 8,
                               kFirmwareScramble & 0xFF, kFirmwareScramble >> 8};
  uint64_t wordKey;
  std::memcpy(&wordKey, keyBytes, sizeof wordKey);
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, sizeof word);
    word ^= wordKey;
    std::memcpy(bytes + i, &word, sizeof word);
  }
  for (; i + 1 < size; i += 2) {
    bytes[i] ^= static_cast<uint8_t>(kFirmwareScramble & 0xFF);
    bytes[i + 1] ^= static_cast<uint8_t>(kFirmwareScramble >> 8);
  }
}

std::string FormatGuid(const uint8_t* b) {
  char text[40];
  std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

int32_t FirmwareLastBlock(int32_t length) {
  if (length < 0 || length > kFirmwareImageSize) return -1;
  // A full image would name block 2048, which lies past its end.
  return std::min(length / kFirmwareBlockSize, kFirmwareLastBlock);
}

int32_t FirmwareProgrammedBlocks(const FirmwareImage& image) {
  const int32_t lastBlock = FirmwareLastBlock(image.length);
  int32_t programmed = 0;
  for (int32_t block = 0; block <= lastBlock; ++block) programmed += image.BlockIsErased(block) ? 0 : 1;
  return programmed;
}

bool FirmwareDataBeyondLength(const FirmwareImage& image) {
  const int32_t lastBlock = FirmwareLastBlock(image.length);
  if (lastBlock < 0) return false;
  const auto from = image.buffer.begin() + static_cast<std::ptrdiff_t>(lastBlock + 1) * kFirmwareBlockSize;
  return std::any_of(from, image.buffer.end(), [](uint8_t b) { return b != 0xFF; });
}

FirmwareFileResult LoadFirmwareFile(const std::wstring& path, FirmwareImage& image, uint16_t& formatVersion,
                                    uint16_t& requiredBootloaderVersion, uint16_t& firmwareVersion) {
  std::ifstream in(FilePath(path), std::ios::binary);
  if (!in.is_open()) return FirmwareFileNotOpened;
  return ReadFirmware(in, image, formatVersion, requiredBootloaderVersion, firmwareVersion);
}

FirmwareFileResult ReadFirmware(std::istream& in, FirmwareImage& image, uint16_t& formatVersion,
                                uint16_t& requiredBootloaderVersion, uint16_t& firmwareVersion) {
  TraceLog << "Reading file." << std::endl;

  uint8_t magic[16];
  if (!ReadExactly(in, magic, sizeof magic)) return FirmwareFileEndedEarly;
  if (!std::equal(kFirmwareMagic.begin(), kFirmwareMagic.end(), magic)) {
    TraceLog << "Wrong GUID." << std::endl;
    TraceLog << FormatGuid(magic) << std::endl;
    TraceLog << FormatGuid(kFirmwareMagic.data()) << std::endl;
    return FirmwareFileWrongMagic;
  }
  if (!ReadWord(in, formatVersion)) return FirmwareFileEndedEarly;
  if (formatVersion != kFirmwareFormatVersion) return FirmwareFileWrongFormat;
  if (!ReadWord(in, requiredBootloaderVersion)) return FirmwareFileEndedEarly;
  if (!ReadWord(in, firmwareVersion)) return FirmwareFileEndedEarly;

  // Read aside, so that a file that ends early leaves the image as it was.
  std::vector<uint8_t> buffer(kFirmwareImageSize);
  uint8_t lengthBytes[4];
  if (!ReadExactly(in, buffer.data(), buffer.size()) || !ReadExactly(in, lengthBytes, 4))
    return FirmwareFileEndedEarly;

  ScrambleFirmware(buffer.data(), buffer.size());
  image.buffer = std::move(buffer);
  image.length = static_cast<int32_t>(static_cast<uint32_t>(lengthBytes[0]) | (uint32_t{lengthBytes[1]} << 8) |
                                      (uint32_t{lengthBytes[2]} << 16) | (uint32_t{lengthBytes[3]} << 24));
  return FirmwareFileRead;
}

bool WriteFirmwareFile(const std::wstring& path, const std::vector<uint8_t>& image, int32_t length,
                       uint16_t requiredBootloaderVersion, uint16_t firmwareVersion, uint16_t formatVersion) {
  if (image.size() > static_cast<size_t>(kFirmwareImageSize)) return false;
  std::ofstream out(FilePath(path), std::ios::binary | std::ios::trunc);
  if (!out.is_open()) return false;
  if (!WriteFirmware(out, image, length, requiredBootloaderVersion, firmwareVersion, formatVersion)) return false;
  out.close();
  return !out.fail();
}

bool WriteFirmware(std::ostream& out, const std::vector<uint8_t>& image, int32_t length,
                   uint16_t requiredBootloaderVersion, uint16_t firmwareVersion, uint16_t formatVersion) {
  if (image.size() > static_cast<size_t>(kFirmwareImageSize)) return false;
  std::vector<uint8_t> file(kFirmwareMagic.begin(), kFirmwareMagic.end());
  file.reserve(kFirmwareFileSize);
  PutLittleEndian(file, formatVersion, 2);
  PutLittleEndian(file, requiredBootloaderVersion, 2);
  PutLittleEndian(file, firmwareVersion, 2);
  file.insert(file.end(), image.begin(), image.end());
  file.resize(kFirmwareHeaderSize + kFirmwareImageSize, 0xFF);
  ScrambleFirmware(file.data() + kFirmwareHeaderSize, kFirmwareImageSize);
  PutLittleEndian(file, static_cast<uint32_t>(length), 4);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  return out.good();
}
