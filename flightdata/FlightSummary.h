// What a logbook line or `ulktool info` says about one decoded data set.
#pragma once

#include <cstddef>
#include <optional>

#include "flightdata/FlightData.h"

struct FlightSummary {
  size_t samples = 0;
  double duration = 0;  // seconds, 0.1 s a sample
  // A set without samples has none of these, and a line that never fired no time.
  std::optional<double> groundAltitudeMsl;
  std::optional<double> apogeeAgl, apogeeTime;
  std::optional<double> maxVelocity, maxVelocityTime;
  std::optional<double> lineAFirstFired, lineBFirstFired;
  std::optional<double> batteryMin, temperatureMin, temperatureMax;
};

// The summary of the set that `flight` holds decoded (SelectDataSet).
FlightSummary SummariseFlight(const FlightData& flight);
