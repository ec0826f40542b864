#include "simulator/SimApplicationFirmware.h"

#include "simulator/SimFlightComputer.h"

SimApplicationFirmware::SimApplicationFirmware(SimFlightComputer& device) : device_(device) {}

bool SimApplicationFirmware::OnReport(SimBus&, int, const std::vector<uint8_t>&) {
  // Commands are answered from the command-protocol work on; until then the
  // firmware accepts every report and answers none.
  return true;
}
