// Firmware files for the tests: packed from images, or raw bytes for damaged ones.
#pragma once

#include <string>
#include <vector>

#include "firmware/FirmwareFile.h"
#include "tests/TestSupport.h"

// An image of n bytes that holds no all-0xFF block: byte i is a pattern of i.
inline std::vector<uint8_t> PatternImage(size_t n) {
  std::vector<uint8_t> image(n);
  for (size_t i = 0; i < n; ++i) image[i] = static_cast<uint8_t>((i * 7 + i / 256) % 251);
  return image;
}

// The header of a firmware file: magic and the three versions.
inline std::vector<uint8_t> FirmwareHeader(uint16_t format = 0x0100, uint16_t bootloader = 0x0400,
                                           uint16_t firmware = 0x0401) {
  std::vector<uint8_t> bytes(kFirmwareMagic.begin(), kFirmwareMagic.end());
  for (uint16_t v : {format, bootloader, firmware}) {
    bytes.push_back(static_cast<uint8_t>(v & 0xFF));
    bytes.push_back(static_cast<uint8_t>(v >> 8));
  }
  return bytes;
}
