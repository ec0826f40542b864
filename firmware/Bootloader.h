// The bootloader's 65-byte report protocol.
#pragma once

#include <cstdint>

constexpr uint32_t kBootloaderReportSize = 65;  // report id 0 and 64 payload bytes

// Byte 1 of an output report. Scoped: LeaveBootloader is also an operation.
enum class BootloaderCommand : uint8_t {
  ReadHardwareVersion = 1,
  WriteBlock = 2,
  LeaveBootloader = 3,
  EraseFlash = 4,
};
