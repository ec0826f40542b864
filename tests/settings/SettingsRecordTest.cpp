#include "settings/SettingsRecord.h"

#include <sstream>

#include "tests/TestSupport.h"

namespace {

const SettingsPacket kDefaults = {0x01, 0x3C, 0x00, 0x14, 0x00, 0x50, 0x00, 0x00, 0x32, 0x96, 0x00,
                                  0x96, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x14, 0x14, 0xE9, 0x02};

// Sets the stored checksum of a packet to the right one.
void Seal(SettingsRecord& r) {
  uint16_t sum = r.ComputeChecksum();
  r.packet[20] = static_cast<uint8_t>(sum & 0xFF);
  r.packet[21] = static_cast<uint8_t>(sum >> 8);
}

// A stream buffer that takes nothing, as a full disk does.
class FullBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
};

}  // namespace

TEST(SettingsRecordTest, DefaultsBuildTheKnownPacket) {
  SettingsRecord record;
  record.packet.fill(0);
  record.lineAMode = Disabled;
  TraceCapture trace;
  EXPECT_TRUE(record.LoadDefaults());
  EXPECT_EQ(record.packet, kDefaults);
  EXPECT_EQ(record.ComputeChecksum(), 745);
  EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"Building settings...", "Done."}));
  // A record that never loaded the defaults already holds their packet.
  EXPECT_EQ(SettingsRecord{}.packet, kDefaults);
}

TEST(SettingsRecordTest, ParseOfTheDefaultsTracesModesInHexAndLeavesTheTraceDecimal) {
  SettingsRecord record;
  record.lineAMode = Disabled;
  TraceCapture trace;
  EXPECT_TRUE(record.ParsePacket());
  TraceLog << 26 << std::endl;
  EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"Parsing settings... 1 ", "Line: 32", "LineA: 2", "LineB: 3",
                                                     "Checksum is valid.", "Done.", "26"}));
  EXPECT_EQ(record.lineAMode, Apogee);
}

TEST(SettingsRecordTest, ChecksumOffByOneStillUnpacksButAnswersFalse) {
  for (int delta : {1, -1}) {
    SettingsRecord record;
    record.packet[3] = 0x2A;  // machInhibit 42
    Seal(record);
    uint16_t stored = static_cast<uint16_t>(record.ComputeChecksum() + delta);
    record.packet[20] = static_cast<uint8_t>(stored & 0xFF);
    record.packet[21] = static_cast<uint8_t>(stored >> 8);
    TraceCapture trace;
    EXPECT_FALSE(record.ParsePacket()) << delta;
    EXPECT_EQ(record.machInhibit, 42) << delta;
    EXPECT_TRUE(trace.Has("Invalid checksum!"));
    EXPECT_FALSE(trace.Has("Checksum is valid."));
  }
}

// Bytes that read as a field and how BuildPacket writes them back.
TEST(SettingsRecordTest, OddPacketBytesReadAndWriteBackNormalised) {
  struct Case {
    size_t at;
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> writtenBack;
    void (*check)(const SettingsRecord&);
  };
  const Case cases[] = {
      {13, {0x01}, {0xFF}, [](const SettingsRecord& r) { EXPECT_TRUE(r.imperialUnits); }},
      {13, {0xFE}, {0x00}, [](const SettingsRecord& r) { EXPECT_FALSE(r.imperialUnits); }},
      {0, {0xFF}, {0x01}, [](const SettingsRecord& r) { EXPECT_TRUE(r.deviceFlag); }},
      {0, {0xFE}, {0x00}, [](const SettingsRecord& r) { EXPECT_FALSE(r.deviceFlag); }},
      {6, {0xFF, 0xFF}, {0xFF, 0xFF}, [](const SettingsRecord& r) { EXPECT_EQ(r.altitudeOffset, -1); }},
      {6, {0x00, 0x80}, {0x00, 0x80}, [](const SettingsRecord& r) { EXPECT_EQ(r.altitudeOffset, -32768); }},
      {8, {0x50}, {0x50}, [](const SettingsRecord& r) {
         EXPECT_EQ(r.lineAMode, Disabled);
         EXPECT_EQ(r.lineBMode, PeakClimbVelocity);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.at);
    SettingsRecord record;
    std::copy(c.bytes.begin(), c.bytes.end(), record.packet.begin() + static_cast<long>(c.at));
    Seal(record);
    ASSERT_TRUE(record.ParsePacket());
    c.check(record);
    record.BuildPacket();
    EXPECT_TRUE(std::equal(c.writtenBack.begin(), c.writtenBack.end(), record.packet.begin() + static_cast<long>(c.at)));
    EXPECT_TRUE(record.ParsePacket());  // the rebuilt packet carries its own checksum
  }
}

TEST(SettingsRecordTest, OffsetOutsideSixteenBitsTravelsAsItsLowBits) {
  const std::pair<int32_t, int32_t> cases[] = {{70000, 4464}, {-40000, 25536}, {32768, -32768}, {-5, -5}};
  for (auto [offset, readBack] : cases) {
    SettingsRecord record;
    record.altitudeOffset = offset;
    record.BuildPacket();
    EXPECT_EQ(record.packet[6] | (record.packet[7] << 8), offset & 0xFFFF) << offset;
    ASSERT_TRUE(record.ParsePacket());
    EXPECT_EQ(record.altitudeOffset, readBack) << offset;
  }
}

TEST(SettingsRecordTest, LineAModeIsPackedUnmasked) {
  // Working modes are 0-5; a wider Line A mode spills into Line B's bits as the
  // packing has always done.
  SettingsRecord record;
  record.lineAMode = 0x22;
  record.lineBMode = 1;
  record.BuildPacket();
  EXPECT_EQ(record.packet[8], 0x32);
}

TEST(SettingsRecordTest, WriteToStream) {
  SettingsRecord record;
  {
    std::ostringstream out;
    TraceCapture trace;
    EXPECT_TRUE(record.WriteToStream(out));
    EXPECT_EQ(out.str(), std::string(kDefaults.begin(), kDefaults.end()));
    EXPECT_EQ(trace.Lines(), std::vector<std::string>{"Successfully serialized settings."});
  }
  {
    // A wrong checksum is told and written as it stands.
    record.packet[20] ^= 1;
    std::ostringstream out;
    TraceCapture trace;
    EXPECT_TRUE(record.WriteToStream(out));
    EXPECT_EQ(static_cast<uint8_t>(out.str()[20]), 0xE8);
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"Invalid checksum.", "Successfully serialized settings."}));
  }
  {
    std::ostringstream out;
    out.setstate(std::ios::failbit);
    EXPECT_FALSE(record.WriteToStream(out));
    EXPECT_TRUE(out.str().empty());
  }
  {
    FullBuffer full;
    std::ostream out(&full);
    TraceCapture trace;
    EXPECT_FALSE(record.WriteToStream(out));
    EXPECT_FALSE(trace.Has("Successfully serialized settings."));
  }
}

TEST(SettingsRecordTest, ReadFromStream) {
  SettingsRecord source;
  source.lineAValue = 300;
  source.BuildPacket();
  const std::string bytes(source.packet.begin(), source.packet.end());
  {
    SettingsRecord record;
    std::istringstream in(bytes + "tail");
    TraceCapture trace;
    EXPECT_TRUE(record.ReadFromStream(in));
    EXPECT_EQ(record.packet, source.packet);
    EXPECT_EQ(record.lineAValue, 300);
    EXPECT_TRUE(trace.Has("Reading latest settings..."));
    EXPECT_TRUE(trace.Has("Successfully de-serialized."));
  }
  {
    // A failed stream changes nothing.
    SettingsRecord record;
    std::istringstream in(bytes);
    in.setstate(std::ios::failbit);
    TraceCapture trace;
    EXPECT_FALSE(record.ReadFromStream(in));
    EXPECT_EQ(record.packet, kDefaults);
    EXPECT_TRUE(trace.Lines().empty());
  }
  {
    // At the very end of a file the previous packet stays and decides the answer.
    SettingsRecord record;
    std::istringstream in(bytes);
    in.ignore(static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(in.good());
    EXPECT_TRUE(record.ReadFromStream(in));
    EXPECT_EQ(record.packet, kDefaults);
    record.packet[21] ^= 0x10;
    std::istringstream empty("");
    EXPECT_FALSE(record.ReadFromStream(empty));
  }
  {
    // A file that ends early replaces only the bytes it holds.
    SettingsRecord record;
    std::istringstream in(bytes.substr(0, 12));
    EXPECT_FALSE(record.ReadFromStream(in));
    EXPECT_TRUE(std::equal(record.packet.begin(), record.packet.begin() + 12, source.packet.begin()));
    EXPECT_TRUE(std::equal(record.packet.begin() + 12, record.packet.end(), kDefaults.begin() + 12));
    EXPECT_EQ(record.lineAValue, 300);  // unpacked from what arrived
  }
}

TEST(SettingsRecordTest, EveryFieldHasItsOwnBytesBothWays) {
  // Every field a value no other field holds, so that a field read from or
  // written to another's place shows.
  SettingsRecord record;
  record.deviceFlag = true;
  record.deviceParam1 = 0x1102;
  record.machInhibit = 0x2203;
  record.minBattery = 0x34;
  record.altitudeOffset = -0x1B5;
  record.lineAMode = 4;
  record.lineBMode = 5;
  record.lineAValue = 0x5506;
  record.lineBValue = 0x6607;
  record.imperialUnits = true;
  record.deviceParam2 = 0x7708;
  record.lineADelay = 0x89;
  record.lineBDelay = 0x9A;
  record.lineAOnTime = 0xAB;
  record.lineBOnTime = 0xBC;
  ASSERT_TRUE(record.BuildPacket());
  EXPECT_EQ(record.packet[8], 0x54);  // Line B's mode in the high nibble

  SettingsRecord back;
  back.packet = record.packet;
  ASSERT_TRUE(back.ParsePacket());
  EXPECT_EQ(back.deviceFlag, true);
  EXPECT_EQ(back.deviceParam1, 0x1102);
  EXPECT_EQ(back.machInhibit, 0x2203);
  EXPECT_EQ(back.minBattery, 0x34);
  EXPECT_EQ(back.altitudeOffset, -0x1B5);
  EXPECT_EQ(back.lineAMode, 4);
  EXPECT_EQ(back.lineBMode, 5);
  EXPECT_EQ(back.lineAValue, 0x5506);
  EXPECT_EQ(back.lineBValue, 0x6607);
  EXPECT_EQ(back.imperialUnits, true);
  EXPECT_EQ(back.deviceParam2, 0x7708);
  EXPECT_EQ(back.lineADelay, 0x89);
  EXPECT_EQ(back.lineBDelay, 0x9A);
  EXPECT_EQ(back.lineAOnTime, 0xAB);
  EXPECT_EQ(back.lineBOnTime, 0xBC);
}
