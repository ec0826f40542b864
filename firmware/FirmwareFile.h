// The firmware file (".dat"): a magic GUID, three little-endian versions, the
// scrambled 128 KiB flash image and the count of image bytes in use.
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

constexpr int32_t kFirmwareImageSize = 131072;
constexpr int32_t kFirmwareBlockSize = 64;
constexpr int32_t kFirmwareLastBlock = kFirmwareImageSize / kFirmwareBlockSize - 1;  // 2047
constexpr uint16_t kFirmwareFormatVersion = 0x0100;
constexpr uint16_t kFirmwareScramble = 0xC7B2;
// magic, formatVersion, requiredBootloaderVersion, firmwareVersion, image, length
constexpr size_t kFirmwareHeaderSize = 16 + 2 + 2 + 2;
constexpr size_t kFirmwareFileSize = kFirmwareHeaderSize + kFirmwareImageSize + 4;

extern const std::array<uint8_t, 16> kFirmwareMagic;

struct FirmwareImage {
  int32_t length = 0;
  std::vector<uint8_t> buffer = std::vector<uint8_t>(kFirmwareImageSize, 0xFF);

  const uint8_t* Block(int32_t block) const { return buffer.data() + size_t(block) * kFirmwareBlockSize; }
  bool BlockIsErased(int32_t block) const;
};

// What LoadFirmwareFile answers.
enum FirmwareFileResult : int {
  FirmwareFileRead = 0,
  FirmwareFileWrongMagic = 1,
  FirmwareFileWrongFormat = 2,
  FirmwareFileNotOpened = 3,
  FirmwareFileEndedEarly = 4,
};

// Reads and unscrambles a firmware file. Each version output is written as
// soon as it is read; the image (buffer and length) changes only when the
// whole file was read.
FirmwareFileResult LoadFirmwareFile(const std::wstring& path, FirmwareImage& image, uint16_t& formatVersion,
                                    uint16_t& requiredBootloaderVersion, uint16_t& firmwareVersion);
// The same from a stream positioned at the file's first byte.
FirmwareFileResult ReadFirmware(std::istream& in, FirmwareImage& image, uint16_t& formatVersion,
                                uint16_t& requiredBootloaderVersion, uint16_t& firmwareVersion);

// Writes a firmware file of image (at most 131072 bytes, padded with 0xFF) with
// the given length field; false when the image is too large or the file cannot
// be written.
bool WriteFirmwareFile(const std::wstring& path, const std::vector<uint8_t>& image, int32_t length,
                       uint16_t requiredBootloaderVersion, uint16_t firmwareVersion,
                       uint16_t formatVersion = kFirmwareFormatVersion);
// The same onto a stream; false when the image is too large or a write failed.
bool WriteFirmware(std::ostream& out, const std::vector<uint8_t>& image, int32_t length,
                   uint16_t requiredBootloaderVersion, uint16_t firmwareVersion,
                   uint16_t formatVersion = kFirmwareFormatVersion);

// XORs every little-endian 16-bit word with 0xC7B2 (its own inverse).
void ScrambleFirmware(uint8_t* bytes, size_t size);

// 16 bytes as a registry-style GUID: {3DBEFF30-B961-4A71-C5E7-E53213A3E2C2}.
std::string FormatGuid(const uint8_t* bytes);

// The last block an image of this length programs, or -1 when the length is
// not one a firmware file may hold (below 0 or beyond the image).
int32_t FirmwareLastBlock(int32_t length);

// The blocks an update of this image sends: those up to its last block that
// are not erased. 0 for a length outside the image.
int32_t FirmwareProgrammedBlocks(const FirmwareImage& image);

// Whether the image holds a byte other than 0xFF past the blocks its length
// programs: a length that stops short of the image (the file has no checksum
// that would tell a damaged length).
bool FirmwareDataBeyondLength(const FirmwareImage& image);
