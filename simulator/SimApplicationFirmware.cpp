#include "simulator/SimApplicationFirmware.h"

#include <algorithm>
#include <cmath>

#include "simulator/SimEmulation.h"
#include "simulator/SimFlightComputer.h"

SimApplicationFirmware::SimApplicationFirmware(SimFlightComputer& device)
    : noise_(device.GetConfig().seed), device_(device) {}

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
  // Any command ends a settings write that has not had its 22 bytes.
  if (code != 0) settingsBytesExpected_ = 0;
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

namespace {

// Reply codes and timings of a real flight computer.
constexpr uint8_t kData = 0;
constexpr uint8_t kCompletion = 5;
constexpr uint64_t kEraseUs = 3000000;       // the flash erase takes a few seconds
constexpr uint64_t kFireUs = 2000000;        // both lines stay on for two seconds
constexpr uint64_t kBootloaderLeaveUs = 100000;   // after the completion has gone out
constexpr uint64_t kBootloaderArriveUs = 500000;  // the bootloader enumerates again
constexpr uint16_t kBatteryTenths = 84;
constexpr uint16_t kBatteryFiringTenths = 71;  // the igniters pull the battery down

}  // namespace

int32_t SimApplicationFirmware::AltitudeTenths() {
  noise_ = noise_ * 1664525u + 1013904223u;
  int32_t noise = static_cast<int32_t>((noise_ >> 16) % 11) - 5;  // ±0.5 m
  const auto& store = device_.settingsStore;
  int32_t offset = static_cast<int16_t>(store[6] | (store[7] << 8));
  return static_cast<int32_t>(std::lround(device_.GetConfig().groundAltitude * 10.0)) + noise + offset * 10;
}

void SimApplicationFirmware::Command(SimBus& bus, int slot, uint16_t argument, uint8_t code) {
  switch (code) {
    case 0:
      // A data report of WriteSettings; outside one it means nothing.
      if (settingsBytesExpected_ <= 0) return;
      settingsIncoming_.push_back(static_cast<uint8_t>(argument & 0xFF));
      if (--settingsBytesExpected_ == 0) {
        // Stored as it came, checksum or not: checking it is the host's business.
        std::copy(settingsIncoming_.begin(), settingsIncoming_.end(), device_.settingsStore.begin());
        Reply(bus, slot, 0, kCompletion);
      }
      return;
    case 3: {
      uint32_t tenths = static_cast<uint32_t>(AltitudeTenths());
      Reply(bus, slot, static_cast<uint16_t>(tenths >> 16), kData);
      Reply(bus, slot, static_cast<uint16_t>(tenths & 0xFFFF), kData);
      Reply(bus, slot, 0, kCompletion);
      return;
    }
    case 6:
      std::fill(device_.flash.begin(), device_.flash.end(), uint8_t{0xFF});
      Reply(bus, slot, 0, kCompletion, kEraseUs);
      return;
    case 7:
      Reply(bus, slot, device_.LinesOn(bus.Now()) ? kBatteryFiringTenths : kBatteryTenths, kData);
      Reply(bus, slot, 0, kCompletion);
      return;
    case 8:
      for (uint8_t byte : device_.settingsStore) Reply(bus, slot, byte, kData);
      Reply(bus, slot, 0, kCompletion);
      return;
    case 9:
      settingsBytesExpected_ = static_cast<int>(device_.settingsStore.size());
      settingsIncoming_.clear();
      return;
    case 10:
      device_.linesOnUntilUs = bus.Now() + kFireUs;
      Reply(bus, slot, 0, kCompletion);
      return;
    case 11: {
      Reply(bus, slot, 0, kCompletion);
      if (device_.answerEnded) return;  // a device that hangs does not restart either
      SimFlightComputer* device = &device_;
      bus.Schedule(bus.replyLatencyUs + kBootloaderLeaveUs, [device, slot](SimBus& b) {
        device->Restart(b, slot, true, kBootloaderArriveUs);
      });
      return;
    }
    case 12:
      device_.settingsStore = kSimDefaultSettings;
      Reply(bus, slot, 0, kCompletion);
      return;
    default:
      return;  // unknown commands go unanswered
  }
}
