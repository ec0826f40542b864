// Small builders of memory images for the flight data tests.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

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
