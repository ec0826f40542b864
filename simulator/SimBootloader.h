// The bootloader of the simulated flight computer: answers the 65-byte reports.
#pragma once

#include <cstdint>
#include <vector>

class SimBus;
class SimFlightComputer;

class SimBootloader {
 public:
  // With an image file in the scenario, the programmed image is read from it
  // at start and written back at the end when it was changed.
  explicit SimBootloader(SimFlightComputer& device);
  ~SimBootloader();
  SimBootloader(const SimBootloader&) = delete;
  SimBootloader& operator=(const SimBootloader&) = delete;
  // One output report from the host; false fails the host's write.
  bool OnReport(SimBus& bus, int slot, const std::vector<uint8_t>& report);

  // Simulated times: the erase of the application area, and the restart into
  // the application firmware after LeaveBootloader.
  static constexpr uint64_t kEraseUs = 4000000;
  static constexpr uint64_t kRestartUs = 1500000;

 private:
  void Answer(SimBus& bus, int slot, uint8_t byte1, uint8_t byte2 = 0, uint64_t delayUs = 0);

  // WriteBlock arrives as three reports: the command, the address, the data.
  enum class Expect { Command, Address, Data };
  Expect expect_ = Expect::Command;
  uint32_t address_ = 0;
  bool imageChanged_ = false;
  SimFlightComputer& device_;
};
