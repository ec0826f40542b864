// A firmware file (".dat"): whole files as well as short and damaged ones.
// The image changes only when the whole file was read, and then it is the
// file's bytes unscrambled.
#include <algorithm>
#include <cstring>
#include <vector>

#include "firmware/FirmwareFile.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietFuzzing();
  static FirmwareImage image;
  image.length = -77;
  image.buffer[0] = 0x5A;

  MemoryStream in(data, size);
  uint16_t format = 0, bootloader = 0, firmware = 0;
  FirmwareFileResult result = ReadFirmware(in, image, format, bootloader, firmware);
  if (result != FirmwareFileRead) {
    FUZZ_CHECK(result == FirmwareFileWrongMagic || result == FirmwareFileWrongFormat ||
               result == FirmwareFileEndedEarly);
    FUZZ_CHECK(image.length == -77 && image.buffer[0] == 0x5A);
    FUZZ_CHECK(image.buffer.size() == static_cast<size_t>(kFirmwareImageSize));
    if (size >= kFirmwareFileSize && result == FirmwareFileEndedEarly) FUZZ_CHECK(false);
    return 0;
  }
  FUZZ_CHECK(size >= kFirmwareFileSize && format == kFirmwareFormatVersion);
  FUZZ_CHECK(std::equal(kFirmwareMagic.begin(), kFirmwareMagic.end(), data));

  // Every little-endian word XORed with the key, worked out here eight bytes
  // at a time rather than through the reader's own routine; a byte-by-byte
  // loop would be most of the run's time.
  FUZZ_CHECK(image.buffer.size() == static_cast<size_t>(kFirmwareImageSize));
  static std::vector<uint8_t> expected(kFirmwareImageSize);
  std::memcpy(expected.data(), data + kFirmwareHeaderSize, expected.size());
  const uint8_t keyBytes[8] = {0xB2, 0xC7, 0xB2, 0xC7, 0xB2, 0xC7, 0xB2, 0xC7};
  uint64_t key;
  std::memcpy(&key, keyBytes, sizeof key);
  for (size_t i = 0; i < expected.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, expected.data() + i, sizeof word);
    word ^= key;
    std::memcpy(expected.data() + i, &word, sizeof word);
  }
  FUZZ_CHECK(std::memcmp(expected.data(), image.buffer.data(), expected.size()) == 0);

  // What the update makes of the length: a block range inside the image, or a refusal.
  int32_t last = FirmwareLastBlock(image.length);
  FUZZ_CHECK(last >= -1 && last <= kFirmwareLastBlock);
  FUZZ_CHECK((last == -1) == (image.length < 0 || image.length > kFirmwareImageSize));
  int erased = 0;
  for (int32_t block = 0; block <= last; ++block) erased += image.BlockIsErased(block) ? 1 : 0;
  FUZZ_CHECK(erased <= last + 1);
  return 0;
}
