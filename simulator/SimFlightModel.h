// Recorded flights of the simulated flight computer, written into its flash
// memory when it is made, by the scenario's word (three, empty, full, glitch).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

class SimFlightComputer;

void RecordScenarioFlights(SimFlightComputer& device);

// One flight as the device records it: a sample word every 0.1 s from a
// second on the pad to a few seconds after landing, and the temperature of
// each sample in tenths of a degree.
struct SimRecordedFlight {
  std::vector<uint32_t> words;
  std::vector<int16_t> temperatures;
};

// A flight towards about apogeeTarget metres above a ground at groundMsl,
// with the line rules of a 22-byte settings packet. Deterministic for a seed.
SimRecordedFlight SimulateFlight(double groundMsl, double apogeeTarget, double burnSeconds,
                                 const std::array<uint8_t, 22>& settings, uint32_t seed);
