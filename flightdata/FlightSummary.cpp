#include "flightdata/FlightSummary.h"

#include <algorithm>

namespace {

constexpr double kSampleSeconds = 0.1;

// The first of equal maxima, as the plot's markers pick it.
size_t IndexOfMaximum(const std::vector<double>& series) {
  size_t best = 0;
  for (size_t i = 1; i < series.size(); ++i)
    if (series[i] > series[best]) best = i;
  return best;
}

}  // namespace

FlightSummary SummariseFlight(const FlightData& f) {
  FlightSummary s;
  s.samples = f.altitudeMsl.size();
  if (s.samples == 0) return s;
  s.duration = static_cast<double>(s.samples - 1) * kSampleSeconds;
  s.groundAltitudeMsl = f.altitudeMsl[0];
  const size_t apogee = IndexOfMaximum(f.altitudeAgl);
  s.apogeeAgl = f.altitudeAgl[apogee];
  s.apogeeTime = static_cast<double>(apogee) * kSampleSeconds;
  const size_t fastest = IndexOfMaximum(f.velocity);
  s.maxVelocity = f.velocity[fastest];
  s.maxVelocityTime = static_cast<double>(fastest) * kSampleSeconds;
  double batteryMin = f.batteryVoltage[0];
  double temperatureMin = f.temperature[0];
  double temperatureMax = f.temperature[0];
  for (size_t i = 0; i < s.samples; ++i) {
    const uint32_t word = f.rawSamples[i];
    // Bit 31 is line A's firing, bit 30 line B's.
    if (!s.lineAFirstFired && (word >> 31) & 1) s.lineAFirstFired = static_cast<double>(i) * kSampleSeconds;
    if (!s.lineBFirstFired && (word >> 30) & 1) s.lineBFirstFired = static_cast<double>(i) * kSampleSeconds;
    batteryMin = std::min(batteryMin, f.batteryVoltage[i]);
    temperatureMin = std::min(temperatureMin, f.temperature[i]);
    temperatureMax = std::max(temperatureMax, f.temperature[i]);
  }
  s.batteryMin = batteryMin;
  s.temperatureMin = temperatureMin;
  s.temperatureMax = temperatureMax;
  return s;
}
