#include "simulator/SimBootloader.h"

#include "simulator/SimFlightComputer.h"

SimBootloader::SimBootloader(SimFlightComputer& device) : device_(device) {}

bool SimBootloader::OnReport(SimBus&, int, const std::vector<uint8_t>&) {
  // The bootloader protocol is answered from the firmware-update work on.
  return true;
}
