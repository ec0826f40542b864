// The short commands of the application firmware and the settings stream.
#include <mutex>

#include "device/Altimeter.h"
#include "device/TraceLog.h"

namespace {

constexpr uint8_t Code(CommandCode code) { return static_cast<uint8_t>(code); }
constexpr uint8_t kCompletion = static_cast<uint8_t>(ReplyCode::Completion);
constexpr uint8_t kData = static_cast<uint8_t>(ReplyCode::Data);

// The completion that ends the settings stream in either direction.
CommandResult ReadConfirmation(CAltimeter& altimeter) {
  uint16_t value = 0;
  uint8_t code = 0;
  if (!altimeter.ReceiveReply(value, &code, kReplyTimeoutMs)) {
    TraceLog << "Could not read complete confirmation." << std::endl;
    return TransferError;
  }
  if (code != kCompletion) return ProtocolError;
  TraceLog << "Done." << std::endl;
  return Ok;
}

}  // namespace

bool CAltimeter::SendReset() {
  if (SendCommand(0, Code(CommandCode::Reset))) return true;
  TraceLog << "Write Error." << std::endl;
  return false;
}

CommandResult CAltimeter::ReadSettings() {
  if (bootloaderMode) return ProtocolError;
  TraceLog << "Resetting device." << std::endl;
  if (!SendReset()) return IoError;
  TraceLog << "Reading Settings..." << std::endl;
  if (!SendCommand(0, Code(CommandCode::ReadSettings))) return IoError;
  for (size_t index = 0; index < kSettingsPacketSize; ++index) {
    uint16_t value = 0;
    uint8_t code = 0;
    if (!ReceiveReply(value, &code, kReplyTimeoutMs)) {
      TraceLog << "Failed to read packet." << std::endl;
      return TransferError;
    }
    if (code == kCompletion) {
      TraceLog << "Premature end of data." << std::endl;
      return ProtocolError;
    }
    // Stored at once: an interrupted stream leaves the earlier bytes replaced.
    settings.packet[index] = static_cast<uint8_t>(value & 0xFF);
    TraceLog << "Settings Packet Read: " << index << std::endl;
  }
  return ReadConfirmation(*this);
}

CommandResult CAltimeter::WriteSettings() {
  if (bootloaderMode) return ProtocolError;
  TraceLog << "Resetting device." << std::endl;
  if (!SendReset()) return IoError;
  TraceLog << "Writting Settings..." << std::endl;
  if (!SendCommand(0, Code(CommandCode::WriteSettings))) {
    TraceLog << "OPERATION_INVALIDHANDLE" << std::endl;
    return IoError;
  }
  for (size_t index = 0; index < kSettingsPacketSize; ++index) {
    // A data report is a command report with code 0 carrying the byte.
    if (!SendCommand(settings.packet[index], 0)) {
      TraceLog << "Failed to write packet." << std::endl;
      return TransferError;
    }
    TraceLog << "Settings Packet Written: " << index << std::endl;
  }
  return ReadConfirmation(*this);
}

CommandResult CAltimeter::ClearMemory() {
  // The comments belong to the flights about to go, so they go even when the
  // device refuses. The download fills them under the same lock.
  {
    std::lock_guard<std::recursive_mutex> lock(dataLock);
    comments.clear();
  }
  if (bootloaderMode) return ProtocolError;
  if (!SendCommand(0, Code(CommandCode::ClearMemory))) return TransferError;
  uint16_t value = 0;
  uint8_t code = 0;
  if (!ReceiveReply(value, &code, kEraseTimeoutMs)) return TransferError;
  return code == kCompletion ? Ok : ProtocolError;
}

namespace {

// FireLines, EnterBootloader and ResetSettings: one command, one completion.
CommandResult ShortCommand(CAltimeter& altimeter, CommandCode command, bool guard, bool resetFirst) {
  if (guard && altimeter.bootloaderMode) return ProtocolError;
  altimeter.cancelRequested = false;
  if (resetFirst) {
    TraceLog << "Resetting device..." << std::endl;
    if (!altimeter.SendReset()) return IoError;
  }
  TraceLog << "Sending command..." << std::endl;
  if (!altimeter.SendCommand(0, Code(command))) return IoError;
  TraceLog << "Reading completion code..." << std::endl;
  uint16_t value = 0;
  uint8_t code = 0;
  if (!altimeter.ReceiveReply(value, &code, kReplyTimeoutMs)) return IoError;
  return code == kCompletion ? Ok : ProtocolError;
}

// The opening of ReadAltitude and ReadVoltage: reset, then the command.
CommandResult StartDataCommand(CAltimeter& altimeter, CommandCode command) {
  if (altimeter.bootloaderMode) return ProtocolError;
  altimeter.cancelRequested = false;
  TraceLog << "Resetting device..." << std::endl;
  if (!altimeter.SendReset()) return IoError;
  TraceLog << "Sending command..." << std::endl;
  if (!altimeter.SendCommand(0, Code(command))) return IoError;
  return Ok;
}

CommandResult ReceiveData(CAltimeter& altimeter, uint16_t& value) {
  uint8_t code = 0;
  if (!altimeter.ReceiveReply(value, &code, kReplyTimeoutMs)) return IoError;
  return code == kData ? Ok : ProtocolError;
}

}  // namespace

CommandResult CAltimeter::FireLines() { return ShortCommand(*this, CommandCode::FireLines, true, true); }

CommandResult CAltimeter::EnterBootloader() {
  return ShortCommand(*this, CommandCode::EnterBootloader, false, false);
}

CommandResult CAltimeter::ResetSettings() {
  return ShortCommand(*this, CommandCode::ResetSettings, true, false);
}

CommandResult CAltimeter::ReadAltitude(float& altitude) {
  if (CommandResult started = StartDataCommand(*this, CommandCode::ReadAltitude); started != Ok) return started;
  TraceLog << "Reading data..." << std::endl;
  uint16_t high = 0, low = 0;
  if (CommandResult r = ReceiveData(*this, high); r != Ok) return r;
  if (CommandResult r = ReceiveData(*this, low); r != Ok) return r;
  // Tenths of a metre as a signed 32-bit number, high half first.
  int32_t tenths = static_cast<int32_t>((static_cast<uint32_t>(high) << 16) | low);
  altitude = static_cast<float>(tenths) * 0.1f;
  TraceLog << "Reading completion code..." << std::endl;
  uint16_t value = 0;
  uint8_t code = 0;
  if (!ReceiveReply(value, &code, kReplyTimeoutMs)) return IoError;
  return code == kCompletion ? Ok : ProtocolError;
}

CommandResult CAltimeter::ReadVoltage(uint16_t& voltage) {
  if (CommandResult started = StartDataCommand(*this, CommandCode::ReadVoltage); started != Ok) return started;
  TraceLog << "Reading data..." << std::endl;
  uint16_t tenths = 0;
  if (CommandResult r = ReceiveData(*this, tenths); r != Ok) return r;
  voltage = tenths;
  TraceLog << "Reading completion code..." << std::endl;
  uint16_t value = 0;
  uint8_t code = 0;
  if (!ReceiveReply(value, &code, kReplyTimeoutMs)) return IoError;
  TraceLog << "Done." << std::endl;
  return code == kCompletion ? Ok : ProtocolError;
}
