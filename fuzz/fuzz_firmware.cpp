// A firmware file (".dat"): whole files as well as short and damaged ones.
// The image changes only when the whole file was read, and then it is the
// file's bytes unscrambled.
#include <algorithm>

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

  const uint8_t key[2] = {kFirmwareScramble & 0xFF, kFirmwareScramble >> 8};
  const uint8_t* file = data + kFirmwareHeaderSize;
  for (size_t i = 0; i < image.buffer.size(); ++i) FUZZ_CHECK((image.buffer[i] ^ key[i & 1]) == file[i]);

  // What the update makes of the length: a block range inside the image, or a refusal.
  int32_t last = FirmwareLastBlock(image.length);
  FUZZ_CHECK(last >= -1 && last <= kFirmwareLastBlock);
  FUZZ_CHECK((last == -1) == (image.length < 0 || image.length > kFirmwareImageSize));
  int erased = 0;
  for (int32_t block = 0; block <= last; ++block) erased += image.BlockIsErased(block) ? 1 : 0;
  FUZZ_CHECK(erased <= last + 1);
  return 0;
}
