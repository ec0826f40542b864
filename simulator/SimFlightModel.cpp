#include "simulator/SimFlightModel.h"

#include "simulator/SimFlightComputer.h"

void RecordScenarioFlights(SimFlightComputer&) {
  // The flight model comes with the flight-data work; until then the memory stays erased.
}
