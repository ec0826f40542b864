#include "simulator/SimApplicationFirmware.h"

#include "simulator/SimEmulation.h"
#include "simulator/SimFlightComputer.h"

SimApplicationFirmware::SimApplicationFirmware(SimFlightComputer& device) : device_(device) {}

SimApplicationFirmware::~SimApplicationFirmware() = default;

void SimApplicationFirmware::Reply(SimBus& bus, int slot, uint16_t value, uint8_t code, uint64_t delayUs) {
  device_.Reply(bus, slot, {0, static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8), code},
                delayUs);
}

bool SimApplicationFirmware::OnReport(SimBus& bus, int slot, const std::vector<uint8_t>& report) {
  if (report.size() < 4) return true;  // not a command report: ignored
  uint16_t argument = static_cast<uint16_t>(report[1] | (report[2] << 8));
  uint8_t code = report[3];
  if (emulation_ && EmulationReport(bus, slot, argument, code)) return true;
  if (code == 1) {
    // Reset ends whatever was going on.
    flashReadArmed_ = false;
    settingsBytesExpected_ = 0;
    return true;
  }
  if (code == 2) {
    ReadFlash(bus, slot, argument);
    return true;
  }
  flashReadArmed_ = false;
  if (code == 4) {
    StartEmulation(bus, slot);
    return true;
  }
  Command(bus, slot, argument, code);
  return true;
}

void SimApplicationFirmware::Command(SimBus&, int, uint16_t, uint8_t) {
  // The short commands and the settings are answered from the command-protocol work on.
}
