// The device settings: the 22-byte packet that travels to the device and into
// data set files, followed by the same settings unpacked into working fields.
// Copied whole (both halves) by plain assignment.
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <ostream>

enum LineMode : uint8_t {
  Disabled = 0,
  Time = 1,
  Apogee = 2,
  Altitude = 3,
  AltitudeBeforeApogee = 4,
  PeakClimbVelocity = 5,
};

constexpr size_t kSettingsPacketSize = 22;
using SettingsPacket = std::array<uint8_t, kSettingsPacketSize>;

struct SettingsRecord {
  SettingsPacket packet{};

  bool deviceFlag = true;
  uint16_t deviceParam1 = 60;
  uint16_t machInhibit = 20;
  uint8_t minBattery = 80;
  int32_t altitudeOffset = 0;
  uint8_t lineAMode = Apogee;
  uint8_t lineBMode = Altitude;
  uint16_t lineAValue = 150;
  uint16_t lineBValue = 150;
  bool imperialUnits = false;
  uint16_t deviceParam2 = 1024;
  uint8_t lineADelay = 0;
  uint8_t lineBDelay = 0;
  uint8_t lineAOnTime = 20;
  uint8_t lineBOnTime = 20;

  bool LoadDefaults();
  bool BuildPacket();
  bool ParsePacket();
  uint16_t ComputeChecksum() const;
  bool WriteToStream(std::ostream& out);
  bool ReadFromStream(std::istream& in);
};
