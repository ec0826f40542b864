#include "simulator/SimApplicationFirmware.h"
#include "simulator/SimFlightComputer.h"

void SimApplicationFirmware::ReadFlash(SimBus&, int, uint16_t argument) {
  // The memory read comes with the flight-data work; the first of the two
  // commands only arms it.
  flashReadArmed_ = argument == 0 && !flashReadArmed_;
}
