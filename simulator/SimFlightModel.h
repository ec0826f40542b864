// Recorded flights of the simulated flight computer, written into its flash
// memory when it is made, by the scenario's word (three, empty, full, glitch).
#pragma once

class SimFlightComputer;

void RecordScenarioFlights(SimFlightComputer& device);
