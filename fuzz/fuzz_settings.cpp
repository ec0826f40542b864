// The 22-byte settings packet, from the device or a data set file: unpacked,
// and where the checksum holds, packed again and unpacked to the same fields.
#include <algorithm>
#include <tuple>

#include "fuzz/FuzzSupport.h"
#include "settings/SettingsRecord.h"

namespace {

auto Fields(const SettingsRecord& r) {
  return std::make_tuple(r.deviceFlag, r.deviceParam1, r.machInhibit, r.minBattery, r.altitudeOffset, r.lineAMode,
                         r.lineBMode, r.lineAValue, r.lineBValue, r.imperialUnits, r.deviceParam2, r.lineADelay,
                         r.lineBDelay, r.lineAOnTime, r.lineBOnTime);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietFuzzing();
  // From a stream that may end early: only the bytes it holds are replaced.
  SettingsRecord streamed;
  MemoryStream in(data, size);
  bool streamValid = streamed.ReadFromStream(in);
  const size_t n = std::min(size, kSettingsPacketSize);
  FUZZ_CHECK(std::equal(data, data + n, streamed.packet.begin()));
  FUZZ_CHECK(std::equal(streamed.packet.begin() + n, streamed.packet.end(), kDefaultSettingsPacket.begin() + n));

  SettingsRecord record;
  record.packet = streamed.packet;
  const bool valid = record.ParsePacket();
  FUZZ_CHECK(valid == streamValid);
  FUZZ_CHECK(valid == ((record.packet[20] | (record.packet[21] << 8)) == record.ComputeChecksum()));
  FUZZ_CHECK(record.lineAMode <= 0x0F && record.lineBMode <= 0x0F);
  FUZZ_CHECK(record.altitudeOffset >= -32768 && record.altitudeOffset <= 32767);
  if (!valid) return 0;

  SettingsRecord rebuilt = record;
  FUZZ_CHECK(rebuilt.BuildPacket());
  FUZZ_CHECK(rebuilt.ParsePacket());
  FUZZ_CHECK(Fields(rebuilt) == Fields(record));
  // Packing is stable: a second round gives the same bytes.
  SettingsPacket once = rebuilt.packet;
  FUZZ_CHECK(rebuilt.BuildPacket() && rebuilt.packet == once);
  return 0;
}
