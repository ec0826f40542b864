// The flight-memory download: packet after packet from index 0 until the
// first never-written one or the end of the memory.
#include "device/Altimeter.h"
#include "device/TraceLog.h"

namespace {

constexpr uint8_t kReadFlashPacket = static_cast<uint8_t>(CommandCode::ReadFlashPacket);
constexpr uint8_t kCompletionCode = static_cast<uint8_t>(ReplyCode::Completion);
constexpr uint8_t kMemoryWordCode = static_cast<uint8_t>(ReplyCode::FlashWord);
constexpr int kWordsPerPacket = 32;
constexpr int kSampleBytes = 4;
constexpr int kPacketBytes = 64;

}  // namespace

CommandResult CAltimeter::ReadFlightMemory(PacketProgress* dialog) {
  {
    std::lock_guard<std::recursive_mutex> lock(dataLock);
    comments.clear();
  }
  if (bootloaderMode) return ProtocolError;
  cancelRequested = false;
  {
    std::lock_guard<std::recursive_mutex> lock(dataLock);
    packets.clear();
  }
  TraceLog << "Resetting device." << std::endl;
  if (!SendReset()) return IoError;
  TraceLog << "Reading Data..." << std::endl;
  TraceLog << "READING SIZE: " << kSampleBytes << std::endl;
  TraceLog << "CFlashPacket: " << kPacketBytes << std::endl;

  for (int packetIndex = 0; packetIndex < kMaxFlashPackets; ++packetIndex) {
    if (!SendCommand(0, kReadFlashPacket) || !SendCommand(static_cast<uint16_t>(packetIndex), kReadFlashPacket))
      return IoError;
    uint8_t bytes[kPacketBytes] = {};
    for (int word = 0; word < kWordsPerPacket; ++word) {
      uint16_t value = 0;
      uint8_t code = 0;
      for (;;) {
        if (cancelRequested) return Cancelled;
        if (!ReceiveReply(value, &code, kReplyTimeoutMs)) {
          TraceLog << "Failed to read to packet." << std::endl;
          return TransferError;
        }
        if (code == kMemoryWordCode) break;
        TraceLog << "Invalid data." << std::endl;
        if (code == kCompletionCode) {
          TraceLog << "Premature end of data." << std::endl;
          return ProtocolError;
        }
      }
      bytes[2 * word] = static_cast<uint8_t>(value & 0xFF);
      bytes[2 * word + 1] = static_cast<uint8_t>(value >> 8);
      if (cancelRequested) return Cancelled;
      if (word == 0) {
        TraceLog << "Begin Notify..." << std::endl;
        if (dialog) dialog->OnPacketProgress(packetIndex, true, bytes[0] == kSetStartType);
        TraceLog << "Done." << std::endl;
      } else if (word % 5 == 0) {
        TraceLog << "Notify..." << std::endl;
        if (dialog) dialog->OnPacketProgress(packetIndex, true, false);
        TraceLog << "Done." << std::endl;
      }
    }

    CFlashPacket packet = CFlashPacket::FromBytes(bytes);
    {
      std::lock_guard<std::recursive_mutex> lock(dataLock);
      for (uint32_t sample : packet.samples) livePreview.AddSample(sample);
    }
    if (cancelRequested) return Cancelled;
    uint16_t value = 0;
    uint8_t code = 0;
    if (!ReceiveReply(value, &code, kReplyTimeoutMs)) {
      TraceLog << "Could not read complete confirmation." << std::endl;
      return TransferError;
    }
    if (code != kCompletionCode) return ProtocolError;
    // Stopped only at the next packet's first word, so this packet is kept.
    if (cancelRequested) TraceLog << "Requesting CancelIO." << std::endl;
    if (packet.type == kErasedType) break;
    {
      std::lock_guard<std::recursive_mutex> lock(dataLock);
      packets.push_back(packet);
    }
    if (dialog) dialog->OnPacketProgress(packetIndex, false, false);
    TraceLog << "Done Reading Packet..." << std::endl;
  }

  TraceLog << "Done Reading Data..." << std::endl;
  std::lock_guard<std::recursive_mutex> lock(dataLock);
  comments.assign(static_cast<size_t>(CountDataSets()), std::string());
  return Ok;
}
