#include "simulator/SimEmulation.h"

#include "simulator/SimApplicationFirmware.h"
#include "simulator/SimFlightComputer.h"

void SimApplicationFirmware::StartEmulation(SimBus&, int) {
  // The emulation mode comes with the launch-emulation work.
}

bool SimApplicationFirmware::EmulationReport(SimBus&, int, uint16_t, uint8_t) { return false; }
