// The device's flight memory as the host holds it: 64-byte packets, the
// decoded series of the selected data set, and the small record that a
// download feeds for the live plot.
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "settings/SettingsRecord.h"

constexpr int kMaxFlashPackets = 1520;
constexpr int kSamplesPerPacket = 15;
constexpr uint8_t kSetStartType = 2;
constexpr uint8_t kErasedType = 0xFF;
constexpr uint32_t kNoSample = 0xFFFFFFFFu;

struct CFlashPacket {
  uint8_t type = kErasedType;
  uint8_t byte1 = 0xFF;
  int16_t temperature = -1;
  std::array<uint32_t, kSamplesPerPacket> samples{};

  // The 64 bytes in memory order (little-endian fields), and back.
  std::array<uint8_t, 64> ToBytes() const;
  static CFlashPacket FromBytes(const uint8_t* bytes);
};

struct FlightData {
  std::vector<uint32_t> rawSamples;
  std::vector<double> altitudeMsl;
  std::vector<double> altitudeAgl;
  std::vector<double> smoothedAltitude;
  std::vector<double> velocity;
  std::vector<double> smoothedVelocity;
  std::vector<double> velocityKmh;
  std::vector<double> batteryVoltage;
  std::vector<double> temperature;
  int32_t selectedSet = -1;

  void Clear();
};

struct LivePreview {
  std::vector<double> altitude;
  std::array<int32_t, 4> bounds{0, 0, 1, 1};
  float timeOfMax = 0.0f;
  float maxAltitude = 0.0f;
  double groundLevel = 0.0;

  void AddSample(uint32_t word);
  // Empties the series and the maximum; bounds and groundLevel stay.
  void Reset();
};

// The last decoded altitude that passed the plausibility check: one value for
// the whole process, carried from one decode to the next.
float LastValidAltitude();
// Sets it, for a decode that must not depend on what was decoded before (a
// logbook row is the same whatever else the logbook holds).
void SetLastValidAltitude(float altitude);

// A double as a default narrow output stream writes it (general notation, six
// significant digits), without the cost of a stream.
std::string FormatStreamNumber(double value);
void AppendStreamNumber(std::string& out, double value);

// What a data set file holds, read without touching the memory image.
enum class DataSetFileStatus {
  Read,             // header, packets and a settings record with a valid checksum
  InvalidSettings,  // everything read, but the settings record fails its checksum
  CannotOpen,
  NotDataSetFile,   // wrong magic
  WrongVersion,
  Truncated,        // ends inside the header or the packets
};

struct DataSetFileContents {
  std::vector<CFlashPacket> packets;
  SettingsRecord settings;  // as far as the file holds it, over the record passed in
  std::string comment;
};

// Reads a data set file with the loader's trace lines; `contents.settings`
// comes in as the record that the file's bytes overwrite.
DataSetFileStatus ReadDataSetFile(const std::wstring& path, DataSetFileContents& contents);
// The same from a stream positioned at the file's first byte.
DataSetFileStatus ReadDataSet(std::istream& in, DataSetFileContents& contents);
