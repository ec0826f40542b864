// The application firmware of the simulated flight computer: answers the
// 4-byte command reports.
#pragma once

#include <cstdint>
#include <vector>

class SimBus;
class SimFlightComputer;

class SimApplicationFirmware {
 public:
  explicit SimApplicationFirmware(SimFlightComputer& device);
  // One output report from the host; false fails the host's write.
  bool OnReport(SimBus& bus, int slot, const std::vector<uint8_t>& report);

 private:
  SimFlightComputer& device_;
};
