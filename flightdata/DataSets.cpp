// The memory image divided into data sets, and the decoding of one set into
// the series that the plot and the exports read.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "device/Altimeter.h"
#include "device/TraceLog.h"

namespace {

// Process-wide on purpose: an implausible first sample takes the altitude of
// whatever was decoded before, in this set or an earlier one.
float lastValidAltitude = 0.0f;

constexpr int kVelocityWindow = 7;
constexpr int kSmoothingReach = 40;

uint32_t LoadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

void StoreLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// Least-squares slope over 7 samples, exponentially filtered. Single precision
// throughout, as the series have always been computed.
void EstimateVelocity(const std::vector<double>& agl, std::vector<double>& velocity) {
  const int n = static_cast<int>(agl.size());
  float v = 0.0f;
  for (int c = 0; c < n + 3; ++c) {
    float sumY = 0.0f;
    float sumXY = 0.0f;
    for (int j = 0; j < kVelocityWindow; ++j) {
      int k = std::clamp(c - 3 + j, 0, n - 1);
      float y = static_cast<float>(agl[static_cast<size_t>(k)]);
      sumY += y;
      sumXY += static_cast<float>(j) * y;
    }
    float slope = (7.0f * sumXY - 21.0f * sumY) / 196.0f;
    v = 0.8f * v + 0.2f * (10.0f * slope);
    velocity[static_cast<size_t>(std::min(c, n - 1))] = v;
  }
}

// One step of the smoothing: how calm the neighbourhood is (the spread sum
// over d neighbours) sets how much of the previous output is kept.
inline double SmoothStep(double here, double sum, int d, double cap, double previous) {
  // A lone sample has no neighbours to judge calm by: follow it.
  double a = d <= 0 ? 0.0 : std::pow(0.95, sum / d * 10 / d);
  a = std::min(a, cap);
  return (1 - a) * here + a * previous;
}

// Each sample's spread is the sum of |here - source[k]| over the up to 40
// neighbours on either side (the window starts at i+lo and ends before i+hi),
// added in ascending k. Samples with a full window on both sides are taken
// four at a time: four sums, each added in its own order as before, so the
// results are the same doubles while the four chains of additions overlap
// and each neighbour is read once instead of four times.
void AdaptiveSmooth(const std::vector<double>& source, std::vector<double>& output, double cap) {
  const int n = static_cast<int>(source.size());
  const double* s = source.data();
  constexpr int kWindow = 2 * kSmoothingReach;
  double previous = 0.0;
  int i = 0;
  while (i < n) {
    if (i >= kSmoothingReach && i + 3 + kSmoothingReach < n) {
      const double* w = s + (i - kSmoothingReach);
      const double h0 = s[i], h1 = s[i + 1], h2 = s[i + 2], h3 = s[i + 3];
      double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
      // The four windows are one apart: each neighbour is loaded once and
      // handed down from the last sum to the first.
      double x0 = w[0], x1 = w[1], x2 = w[2];
      for (int k = 0; k < kWindow; ++k) {
        const double x3 = w[k + 3];
        s0 += std::fabs(h0 - x0);
        s1 += std::fabs(h1 - x1);
        s2 += std::fabs(h2 - x2);
        s3 += std::fabs(h3 - x3);
        x0 = x1;
        x1 = x2;
        x2 = x3;
      }
      previous = output[static_cast<size_t>(i)] = SmoothStep(h0, s0, kWindow, cap, previous);
      previous = output[static_cast<size_t>(i) + 1] = SmoothStep(h1, s1, kWindow, cap, previous);
      previous = output[static_cast<size_t>(i) + 2] = SmoothStep(h2, s2, kWindow, cap, previous);
      previous = output[static_cast<size_t>(i) + 3] = SmoothStep(h3, s3, kWindow, cap, previous);
      i += 4;
      continue;
    }
    int lo = i < kSmoothingReach ? -i : -kSmoothingReach;
    int hi = i + kSmoothingReach < n ? kSmoothingReach : n - 1 - i;
    const double here = s[i];
    double sum = 0.0;
    for (int k = i + lo; k < i + hi; ++k) sum += std::fabs(here - s[k]);
    previous = output[static_cast<size_t>(i)] = SmoothStep(here, sum, hi - lo, cap, previous);
    ++i;
  }
}

}  // namespace

float LastValidAltitude() { return lastValidAltitude; }

void SetLastValidAltitude(float altitude) { lastValidAltitude = altitude; }

std::array<uint8_t, 64> CFlashPacket::ToBytes() const {
  std::array<uint8_t, 64> bytes{};
  bytes[0] = type;
  bytes[1] = byte1;
  uint16_t t = static_cast<uint16_t>(temperature);
  bytes[2] = static_cast<uint8_t>(t & 0xFF);
  bytes[3] = static_cast<uint8_t>(t >> 8);
  for (int i = 0; i < kSamplesPerPacket; ++i) StoreLe32(&bytes[4 + 4 * static_cast<size_t>(i)], samples[static_cast<size_t>(i)]);
  return bytes;
}

CFlashPacket CFlashPacket::FromBytes(const uint8_t* bytes) {
  CFlashPacket packet;
  packet.type = bytes[0];
  packet.byte1 = bytes[1];
  packet.temperature = static_cast<int16_t>(static_cast<uint16_t>(bytes[2] | (bytes[3] << 8)));
  for (int i = 0; i < kSamplesPerPacket; ++i) packet.samples[static_cast<size_t>(i)] = LoadLe32(bytes + 4 + 4 * i);
  return packet;
}

void FlightData::Clear() {
  rawSamples.clear();
  altitudeMsl.clear();
  altitudeAgl.clear();
  smoothedAltitude.clear();
  velocity.clear();
  smoothedVelocity.clear();
  velocityKmh.clear();
  batteryVoltage.clear();
  temperature.clear();
}

void LivePreview::AddSample(uint32_t word) {
  if (word == kNoSample) return;
  double alt = (word & 0xFFFFF) * 0.1;
  if (altitude.empty()) groundLevel = alt;
  altitude.push_back(alt - groundLevel);
  int32_t m = static_cast<int32_t>(altitude.size());
  if (alt - groundLevel > maxAltitude) {
    maxAltitude = static_cast<float>(alt - groundLevel);
    timeOfMax = static_cast<float>(m - 1) / 10.0f;
  }
  bounds = {0, 0, ((m + 50) / 50) * 5, static_cast<int32_t>(maxAltitude)};
}

void LivePreview::Reset() {
  altitude.clear();
  timeOfMax = 0.0f;
  maxAltitude = 0.0f;
}

int32_t CAltimeter::CountDataSets() const {
  std::lock_guard<std::recursive_mutex> lock(dataLock);
  int32_t count = 0;
  for (const CFlashPacket& p : packets)
    if (p.type == kSetStartType) ++count;
  return count;
}

int32_t CAltimeter::FirstPacketOfSet(int32_t set) const {
  std::lock_guard<std::recursive_mutex> lock(dataLock);
  int32_t seen = 0;
  for (size_t i = 0; i < packets.size(); ++i) {
    if (packets[i].type != kSetStartType) continue;
    if (seen == set) return static_cast<int32_t>(i);
    ++seen;
  }
  return -1;
}

uint16_t CAltimeter::PacketCountOfSet(int32_t set) const {
  std::lock_guard<std::recursive_mutex> lock(dataLock);
  int32_t s = FirstPacketOfSet(set);
  TraceLog << "Set: " << set << std::endl;
  TraceLog << "Set Address: " << s << std::endl;
  // A set that does not exist has no packets (rather than a walk from index -1).
  if (s < 0) return 0;
  size_t end = static_cast<size_t>(s) + 1;
  while (end < packets.size() && packets[end].type != kSetStartType && packets[end].type != kErasedType) ++end;
  return static_cast<uint16_t>(end - static_cast<size_t>(s));
}

int32_t CAltimeter::SetOfPacket(int32_t packetIndex) const {
  std::lock_guard<std::recursive_mutex> lock(dataLock);
  if (packetIndex < 0 || static_cast<size_t>(packetIndex) >= packets.size()) return -1;
  int32_t starts = 0;
  for (int32_t i = 0; i <= packetIndex; ++i)
    if (packets[static_cast<size_t>(i)].type == kSetStartType) ++starts;
  return starts - 1;
}

bool CAltimeter::SelectDataSet(int32_t set) {
  if (set == -1) return false;
  std::lock_guard<std::recursive_mutex> lock(dataLock);
  flight.Clear();
  flight.selectedSet = set;
  int32_t s = FirstPacketOfSet(set);
  if (s == -1) return true;

  for (size_t p = static_cast<size_t>(s); p < packets.size(); ++p) {
    const CFlashPacket& packet = packets[p];
    // A set ends where PacketCountOfSet ends it: at the next start or at an
    // erased packet. What lies past an erased one belongs to no flight, and a
    // saved file could not keep it.
    if (p != static_cast<size_t>(s) && (packet.type == kSetStartType || packet.type == kErasedType)) break;
    for (uint32_t word : packet.samples) {
      if (word == kNoSample) break;
      flight.rawSamples.push_back(word);
      float altitude = static_cast<float>((word & 0xFFFFF) * 0.1);
      if (altitude > 32760.0f || altitude < -500.0f) {
        altitude = lastValidAltitude;
      } else {
        lastValidAltitude = altitude;
      }
      flight.altitudeMsl.push_back(altitude);
      flight.batteryVoltage.push_back(((word >> 20) & 0xFF) * 0.1);
      flight.temperature.push_back(packet.temperature * 0.1);
    }
  }

  const size_t n = flight.altitudeMsl.size();
  if (n == 0) return true;
  flight.altitudeAgl.assign(n, 0.0);
  flight.smoothedAltitude.assign(n, 0.0);
  flight.velocity.assign(n, 0.0);
  flight.smoothedVelocity.assign(n, 0.0);
  flight.velocityKmh.assign(n, 0.0);
  for (size_t i = 0; i < n; ++i) flight.altitudeAgl[i] = flight.altitudeMsl[i] - flight.altitudeMsl[0];
  EstimateVelocity(flight.altitudeAgl, flight.velocity);
  AdaptiveSmooth(flight.altitudeAgl, flight.smoothedAltitude, 1.0);
  AdaptiveSmooth(flight.velocity, flight.smoothedVelocity, 0.8);
  for (size_t i = 0; i < n; ++i) flight.velocityKmh[i] = flight.velocity[i] * 3.6;
  return true;
}

int32_t CAltimeter::IndexOfMaximum(const std::vector<double>& series) const {
  if (flight.altitudeMsl.empty()) return -1;
  int32_t best = 0;
  for (size_t i = 1; i < series.size(); ++i)
    if (series[i] > series[static_cast<size_t>(best)]) best = static_cast<int32_t>(i);
  return best;
}
