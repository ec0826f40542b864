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

// The packet of the default settings, checksum 0x02E9.
inline constexpr SettingsPacket kDefaultSettingsPacket = {0x01, 0x3C, 0x00, 0x14, 0x00, 0x50, 0x00, 0x00,
                                                          0x32, 0x96, 0x00, 0x96, 0x00, 0x00, 0x00, 0x04,
                                                          0x00, 0x00, 0x14, 0x14, 0xE9, 0x02};

struct SettingsRecord {
  // Starts as the packet of the working fields' defaults, so that even a
  // record that never ran LoadDefaults holds a valid packet.
  SettingsPacket packet = kDefaultSettingsPacket;

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
