#include "settings/SettingsRecord.h"

#include <sstream>
#include <string>

#include "device/TraceLog.h"

namespace {

void Put16(SettingsPacket& p, size_t at, uint16_t value) {
  p[at] = static_cast<uint8_t>(value & 0xFF);
  p[at + 1] = static_cast<uint8_t>(value >> 8);
}

uint16_t Get16(const SettingsPacket& p, size_t at) { return static_cast<uint16_t>(p[at] | (p[at + 1] << 8)); }

std::string Hex(unsigned value) {
  std::ostringstream text;
  text << std::hex << value;
  return text.str();
}

}  // namespace

bool SettingsRecord::LoadDefaults() {
  deviceFlag = true;
  deviceParam1 = 60;
  machInhibit = 20;
  minBattery = 80;
  altitudeOffset = 0;
  lineAMode = Apogee;
  lineBMode = Altitude;
  lineAValue = 150;
  lineBValue = 150;
  imperialUnits = false;
  deviceParam2 = 1024;
  lineADelay = 0;
  lineBDelay = 0;
  lineAOnTime = 20;
  lineBOnTime = 20;
  return BuildPacket();
}

uint16_t SettingsRecord::ComputeChecksum() const {
  uint16_t sum = 0;
  for (size_t i = 0; i < 20; ++i) sum = static_cast<uint16_t>(sum + packet[i] + i);
  return sum;
}

bool SettingsRecord::BuildPacket() {
  TraceLog << "Building settings..." << std::endl;
  packet[0] = deviceFlag ? 1 : 0;
  Put16(packet, 1, deviceParam1);
  Put16(packet, 3, machInhibit);
  packet[5] = minBattery;
  Put16(packet, 6, static_cast<uint16_t>(altitudeOffset & 0xFFFF));
  packet[8] = static_cast<uint8_t>((lineBMode << 4) | lineAMode);
  Put16(packet, 9, lineAValue);
  Put16(packet, 11, lineBValue);
  packet[13] = imperialUnits ? 0xFF : 0x00;
  Put16(packet, 14, deviceParam2);
  packet[16] = lineADelay;
  packet[17] = lineBDelay;
  packet[18] = lineAOnTime;
  packet[19] = lineBOnTime;
  Put16(packet, 20, ComputeChecksum());
  TraceLog << "Done." << std::endl;
  return true;
}

bool SettingsRecord::ParsePacket() {
  TraceLog << "Parsing settings... 1 " << std::endl;
  deviceFlag = (packet[0] & 1) != 0;
  deviceParam1 = Get16(packet, 1);
  machInhibit = Get16(packet, 3);
  minBattery = packet[5];
  altitudeOffset = static_cast<int16_t>(Get16(packet, 6));
  lineAMode = packet[8] & 0x0F;
  lineBMode = packet[8] >> 4;
  lineAValue = Get16(packet, 9);
  lineBValue = Get16(packet, 11);
  imperialUnits = (packet[13] & 1) != 0;
  deviceParam2 = Get16(packet, 14);
  lineADelay = packet[16];
  lineBDelay = packet[17];
  lineAOnTime = packet[18];
  lineBOnTime = packet[19];
  // Formatted aside: the trace stream's flags are shared with other threads.
  TraceLog << "Line: " << Hex(packet[8]) << std::endl;
  TraceLog << "LineA: " << Hex(lineAMode) << std::endl;
  TraceLog << "LineB: " << Hex(lineBMode) << std::endl;
  if (Get16(packet, 20) == ComputeChecksum()) {
    TraceLog << "Checksum is valid." << std::endl;
    TraceLog << "Done." << std::endl;
    return true;
  }
  TraceLog << "Invalid checksum!" << std::endl;
  return false;
}

bool SettingsRecord::WriteToStream(std::ostream& out) {
  if (!out.good()) return false;
  if (Get16(packet, 20) != ComputeChecksum()) TraceLog << "Invalid checksum." << std::endl;
  out.write(reinterpret_cast<const char*>(packet.data()), static_cast<std::streamsize>(packet.size()));
  // A write that failed (a full disk) is no success.
  if (!out.good()) return false;
  TraceLog << "Successfully serialized settings." << std::endl;
  return true;
}

bool SettingsRecord::ReadFromStream(std::istream& in) {
  if (!in.good()) return false;
  TraceLog << "Reading latest settings..." << std::endl;
  // Not tested after the read: a file that ends early replaces only the bytes it holds.
  in.read(reinterpret_cast<char*>(packet.data()), static_cast<std::streamsize>(packet.size()));
  if (!ParsePacket()) return false;
  TraceLog << "Successfully de-serialized." << std::endl;
  return true;
}
