#include "simulator/SimApplicationFirmware.h"
#include "simulator/SimFlightComputer.h"

namespace {
constexpr size_t kPacketBytes = 64;
constexpr uint8_t kMemoryWordCode = 13;
constexpr uint8_t kCompletionCode = 5;
}  // namespace

void SimApplicationFirmware::ReadFlash(SimBus& bus, int slot, uint16_t argument) {
  // The first command 2 (argument 0) arms the read; the second names the packet.
  if (!flashReadArmed_) {
    flashReadArmed_ = argument == 0;
    return;
  }
  flashReadArmed_ = false;
  size_t offset = static_cast<size_t>(argument) * kPacketBytes;
  if (offset + kPacketBytes <= device_.flash.size()) {
    for (size_t i = 0; i < kPacketBytes; i += 2) {
      uint16_t value = static_cast<uint16_t>(device_.flash[offset + i] | (device_.flash[offset + i + 1] << 8));
      Reply(bus, slot, value, kMemoryWordCode);
    }
  }
  // Past the end of the memory there is nothing to send but the completion.
  Reply(bus, slot, 0, kCompletionCode);
}
