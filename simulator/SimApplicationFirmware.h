// The application firmware of the simulated flight computer: answers the
// 4-byte command reports. The dispatcher and the short commands live in
// SimApplicationFirmware.cpp, the flight-memory read in SimFlashRead.cpp, the
// launch emulation (the device's flight logic) in SimEmulation.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class SimBus;
class SimFlightComputer;
struct SimEmulationState;

class SimApplicationFirmware {
 public:
  explicit SimApplicationFirmware(SimFlightComputer& device);
  ~SimApplicationFirmware();

  // One output report from the host; false fails the host's write.
  bool OnReport(SimBus& bus, int slot, const std::vector<uint8_t>& report);

  // Sends one 4-byte reply (value little-endian, code) through the device's fault counter.
  void Reply(SimBus& bus, int slot, uint16_t value, uint8_t code, uint64_t delayUs = 0);

 private:
  // --- SimFlashRead.cpp: command 2 arrives twice, argument 0 then the packet index.
  void ReadFlash(SimBus& bus, int slot, uint16_t argument);
  bool flashReadArmed_ = false;

  // --- SimEmulation.cpp: command 4 starts it; then every report goes to it until it ends.
  void StartEmulation(SimBus& bus, int slot);
  // Answers false when the emulation has ended and the report is a plain command again.
  bool EmulationReport(SimBus& bus, int slot, uint16_t argument, uint8_t code);
  std::unique_ptr<SimEmulationState> emulation_;

  // --- SimApplicationFirmware.cpp: the short commands and the settings.
  void Command(SimBus& bus, int slot, uint16_t argument, uint8_t code);
  // Barometric altitude in tenths of a metre: ground, noise, the stored offset.
  int32_t AltitudeTenths();
  int settingsBytesExpected_ = 0;  // data reports still to come after WriteSettings
  std::vector<uint8_t> settingsIncoming_;
  uint32_t noise_ = 1;             // state of the barometer's noise

  SimFlightComputer& device_;
};
