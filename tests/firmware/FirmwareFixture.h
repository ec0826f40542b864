// Firmware files for the tests: packed from images, or raw bytes for damaged ones.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "firmware/FirmwareFile.h"
#include "tests/TestSupport.h"

// A scratch directory per test, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::path(::testing::TempDir()) /
           ("ulk-fw-" + std::string(info->test_suite_name()) + "-" + info->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::wstring WidePath(const std::string& name) const { return (dir_ / name).wstring(); }

 private:
  std::filesystem::path dir_;
};

// An image of n bytes that holds no all-0xFF block: byte i is a pattern of i.
inline std::vector<uint8_t> PatternImage(size_t n) {
  std::vector<uint8_t> image(n);
  for (size_t i = 0; i < n; ++i) image[i] = static_cast<uint8_t>((i * 7 + i / 256) % 251);
  return image;
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
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
