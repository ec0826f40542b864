// The bootloader of the simulated flight computer: answers the 65-byte reports.
#pragma once

#include <cstdint>
#include <vector>

class SimBus;
class SimFlightComputer;

class SimBootloader {
 public:
  explicit SimBootloader(SimFlightComputer& device);
  // One output report from the host; false fails the host's write.
  bool OnReport(SimBus& bus, int slot, const std::vector<uint8_t>& report);

 private:
  SimFlightComputer& device_;
};
