// Small builders of memory images for the flight data tests.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "flightdata/FlightData.h"

// A sample word: altitude in tenths of a metre, voltage in tenths of a volt, the four line bits.
inline uint32_t SampleWord(uint32_t altitudeTenths, uint32_t voltageTenths = 84, uint32_t lineBits = 0) {
  return (altitudeTenths & 0xFFFFF) | ((voltageTenths & 0xFF) << 20) | (lineBits << 28);
}

// A packet of the given type whose words are the given ones, the rest 0xFFFFFFFF.
inline CFlashPacket MakePacket(uint8_t type, std::initializer_list<uint32_t> words = {}, int16_t temperature = 215) {
  CFlashPacket p;
  p.type = type;
  p.byte1 = 0;
  p.temperature = temperature;
  p.samples.fill(kNoSample);
  size_t i = 0;
  for (uint32_t w : words)
    if (i < p.samples.size()) p.samples[i++] = w;
  return p;
}

// A packet with all fifteen words filled from first, first + step, ... (altitude tenths).
inline CFlashPacket RampPacket(uint8_t type, uint32_t first, uint32_t step) {
  CFlashPacket p = MakePacket(type);
  for (size_t i = 0; i < p.samples.size(); ++i) p.samples[i] = SampleWord(first + step * static_cast<uint32_t>(i));
  return p;
}

// A fresh folder for one test, removed with everything in it afterwards.
class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("ulk-flight-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::filesystem::path Path(const std::string& name) const { return path_ / name; }
  std::wstring WPath(const std::string& name) const { return Path(name).wstring(); }
  const std::filesystem::path& Root() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::filesystem::path FixturePath(const std::string& name) {
  return std::filesystem::path(ULK_SOURCE_DIR) / "tests" / "fixtures" / name;
}
