#include <sys/resource.h>

#include <csignal>
#include <cstring>

#include "device/Altimeter.h"
#include "tests/TestSupport.h"
#include "tests/flightdata/FlightTestSupport.h"

namespace {

const std::string kMagic("\x78\x5A\xA7\xFF\x32\x04\x82\x4C\x93\x9F\x89\x2D\x31\xA4\x7A\xBC", 16);

std::string Le16(uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }

std::string Le32(uint32_t v) { return Le16(static_cast<uint16_t>(v & 0xFFFF)) + Le16(static_cast<uint16_t>(v >> 16)); }

std::string PacketBytes(const CFlashPacket& p) {
  std::array<uint8_t, 64> b = p.ToBytes();
  return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

std::string SettingsBytes(const SettingsRecord& r) {
  return std::string(reinterpret_cast<const char*>(r.packet.data()), r.packet.size());
}

// A data set file put together by hand.
std::string FileBytes(const std::vector<CFlashPacket>& packets, const SettingsRecord& settings,
                      const std::string& commentField, uint16_t version = 0x0200, uint16_t reserved = 0x0400) {
  std::string bytes = kMagic + Le16(version) + Le16(reserved) + Le16(reserved) + Le16(reserved) +
                      Le16(static_cast<uint16_t>(packets.size()));
  for (const CFlashPacket& p : packets) bytes += PacketBytes(p);
  return bytes + SettingsBytes(settings) + commentField;
}

std::string Comment(const std::string& text) { return Le32(static_cast<uint32_t>(text.size() + 1)) + text + '\0'; }

SettingsRecord DefaultSettings() {
  SettingsRecord r;
  r.LoadDefaults();
  return r;
}

// Several sets with different words so that a copy from the wrong place shows.
std::vector<CFlashPacket> ThreeSets() {
  return {RampPacket(2, 10000, 10), RampPacket(5, 10150, 10), RampPacket(2, 20000, 3),
          RampPacket(4, 20045, 3),  RampPacket(4, 20090, 3),  RampPacket(2, 30000, 7)};
}

class DataSetFileTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  CAltimeter alt;
};

TEST_F(DataSetFileTest, OnePacketWithAnEmptyCommentIs117BytesInTheStoredLayout) {
  alt.packets = {MakePacket(2, {SampleWord(13200), SampleWord(13210, 83, 0b1001)}, -37)};
  TraceCapture trace;
  ASSERT_TRUE(alt.SaveDataSet(dir.WidePath("one.ulk"), 0));
  std::string bytes = ReadFileBytes(dir.Path("one.ulk"));
  ASSERT_EQ(bytes.size(), 117u);
  EXPECT_EQ(bytes, FileBytes(alt.packets, alt.settings, Comment("")));
  EXPECT_EQ(bytes.substr(16, 10), std::string("\x00\x02\x00\x04\x00\x04\x00\x04\x01\x00", 10));
  for (const char* line : {"Selected set to save: 0", "Set address: 0", "Set: 0", "Set Address: 0", "Packet Count: 1",
                           "Comment: "})
    EXPECT_TRUE(trace.Has(line)) << line;
  EXPECT_FALSE(std::filesystem::exists(dir.Path("one.ulk.~ulktmp")));
}

TEST_F(DataSetFileTest, SetKWritesOnlyItsPacketsAndItsCommentAndLoadsAsSetZero) {
  alt.packets = ThreeSets();
  alt.comments = {"first", "second", "third"};
  ASSERT_TRUE(alt.SelectDataSet(1));
  FlightData before = alt.flight;
  ASSERT_TRUE(alt.SaveDataSet(dir.WidePath("set2.ulk"), 1));
  ASSERT_TRUE(alt.SaveDataSet(dir.WidePath("set3.ulk"), 2));
  std::vector<CFlashPacket> set1(alt.packets.begin() + 2, alt.packets.begin() + 5);
  EXPECT_EQ(ReadFileBytes(dir.Path("set2.ulk")), FileBytes(set1, alt.settings, Comment("second")));
  // The last set runs to the end of the image.
  EXPECT_EQ(ReadFileBytes(dir.Path("set3.ulk")), FileBytes({alt.packets[5]}, alt.settings, Comment("third")));

  CAltimeter other;
  ASSERT_TRUE(other.LoadDataSet(dir.WidePath("set2.ulk")));
  EXPECT_EQ(other.CountDataSets(), 1);
  EXPECT_EQ(other.comments, std::vector<std::string>{"second"});
  ASSERT_TRUE(other.SelectDataSet(0));
  EXPECT_EQ(other.flight.rawSamples, before.rawSamples);
  EXPECT_EQ(other.flight.altitudeMsl, before.altitudeMsl);
  EXPECT_EQ(other.flight.smoothedVelocity, before.smoothedVelocity);
  // Saved again, the file comes back byte for byte.
  ASSERT_TRUE(other.SaveDataSet(dir.WidePath("again.ulk"), 0));
  EXPECT_EQ(ReadFileBytes(dir.Path("again.ulk")), ReadFileBytes(dir.Path("set2.ulk")));
}

TEST_F(DataSetFileTest, CommentsAreStoredUpToTheirFirstNulAndMissingSlotsAreEmpty) {
  struct Case {
    const char* name;
    std::vector<std::string> comments;
    std::string stored;
  };
  const std::vector<Case> cases = {
      {"1023 characters", {std::string(1023, 'x')}, std::string(1023, 'x')},
      {"NUL in the middle", {std::string("abc\0def", 7)}, "abc"},
      {"no slot for the set", {}, ""},
      {"bytes beyond ASCII", {"\xE9t\xE9 <&>"}, "\xE9t\xE9 <&>"},
  };
  alt.packets = {MakePacket(2, {SampleWord(1)})};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    alt.comments = c.comments;
    ASSERT_TRUE(alt.SaveDataSet(dir.WidePath("c.ulk"), 0));
    std::string bytes = ReadFileBytes(dir.Path("c.ulk"));
    EXPECT_EQ(bytes.substr(52 + 64 - 4), Comment(c.stored));
    CAltimeter other;
    ASSERT_TRUE(other.LoadDataSet(dir.WidePath("c.ulk")));
    EXPECT_EQ(other.comments, std::vector<std::string>{c.stored});
  }
}

TEST_F(DataSetFileTest, VersionsOfTheSameFamilyLoadWhateverTheReservedWords) {
  struct Case {
    uint16_t version;
    bool loads;
  };
  std::vector<CFlashPacket> packets = {RampPacket(2, 5000, 1), RampPacket(3, 5015, 1)};
  for (Case c : {Case{0x0200, true}, Case{0x0205, true}, Case{0x020F, true}, Case{0x0300, false},
                 Case{0x0100, false}, Case{0x0210, false}}) {
    SCOPED_TRACE(c.version);
    WriteFileBytes(dir.Path("v.ulk"), FileBytes(packets, DefaultSettings(), Comment("v"), c.version, 0xBEEF));
    CAltimeter other;
    other.packets = {RampPacket(2, 1, 1)};
    TraceCapture trace;
    EXPECT_EQ(other.LoadDataSet(dir.WidePath("v.ulk")), c.loads);
    EXPECT_EQ(other.packets.size(), c.loads ? 2u : 1u);
    EXPECT_EQ(trace.Has("Correct version."), c.loads);
    if (c.loads) {
      EXPECT_EQ(trace.Lines().back(), "Comment: v");
    }
  }
}

TEST_F(DataSetFileTest, StoredCommentLengthIsNotTrusted) {
  struct Case {
    const char* name;
    std::string commentField;
    std::string comment;
  };
  const std::vector<Case> cases = {
      {"length 0", Le32(0), ""},
      {"huge length, few bytes, no NUL", Le32(0xFFFFFFFFu) + "abcde", "abcde"},
      {"no NUL within the length", Le32(3) + "xyz" + "tail", "xyz"},
      {"NUL early", Le32(6) + std::string("ab\0cd\0", 6), "ab"},
      {"file ends before the length", "", ""},
      {"file ends inside the length", std::string("\x05\x00", 2), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(dir.Path("h.ulk"), FileBytes({RampPacket(2, 5000, 1)}, DefaultSettings(), c.commentField));
    CAltimeter other;
    ASSERT_TRUE(other.LoadDataSet(dir.WidePath("h.ulk")));
    EXPECT_EQ(other.comments, std::vector<std::string>{c.comment});
    EXPECT_EQ(other.packets.size(), 1u);
  }
}

TEST_F(DataSetFileTest, AFailedLoadChangesNothing) {
  std::string good = FileBytes({RampPacket(2, 5000, 1), RampPacket(3, 5015, 1)}, DefaultSettings(), Comment("ok"));
  SettingsRecord badChecksum = DefaultSettings();
  badChecksum.packet[21] ^= 0x40;
  struct Case {
    const char* name;
    std::string bytes;
    const char* traceLine;
  };
  const std::vector<Case> cases = {
      {"wrong magic", "X" + good.substr(1), "Not an ULK file."},
      {"too short for the magic", good.substr(0, 10), "Not an ULK file."},
      {"ends inside the header", good.substr(0, 17), nullptr},
      {"ends inside the packets", good.substr(0, 26 + 64 + 10), nullptr},
      {"ends after the first packet", good.substr(0, 26 + 64), nullptr},
      {"ends inside the settings", good.substr(0, 26 + 128 + 12), "Invalid checksum!"},
      {"settings checksum invalid", FileBytes({RampPacket(2, 5000, 1)}, badChecksum, Comment("c")), "Invalid checksum!"},
  };
  alt.packets = ThreeSets();
  alt.comments = {"unsaved", "flights", "here"};
  alt.settings.lineAValue = 321;
  alt.settings.BuildPacket();
  const SettingsPacket settingsBefore = alt.settings.packet;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(dir.Path("bad.ulk"), c.bytes);
    TraceCapture trace;
    EXPECT_FALSE(alt.LoadDataSet(dir.WidePath("bad.ulk")));
    if (c.traceLine) {
      EXPECT_TRUE(trace.Has(c.traceLine));
    }
    EXPECT_EQ(alt.packets.size(), 6u);
    EXPECT_EQ(alt.packets[2].samples, ThreeSets()[2].samples);
    EXPECT_EQ(alt.comments, (std::vector<std::string>{"unsaved", "flights", "here"}));
    EXPECT_EQ(alt.settings.packet, settingsBefore);
    EXPECT_EQ(alt.settings.lineAValue, 321);
  }
  EXPECT_FALSE(alt.LoadDataSet(dir.WidePath("does-not-exist.ulk")));
  EXPECT_EQ(alt.packets.size(), 6u);
}

TEST_F(DataSetFileTest, AFileThatEndsRightAfterThePacketsKeepsTheSettingsAndLoads) {
  std::string bytes = FileBytes({RampPacket(2, 5000, 1)}, DefaultSettings(), "");
  WriteFileBytes(dir.Path("short.ulk"), bytes.substr(0, 26 + 64));
  ASSERT_TRUE(alt.LoadDataSet(dir.WidePath("short.ulk")));
  EXPECT_EQ(alt.packets.size(), 1u);
  EXPECT_EQ(alt.comments, std::vector<std::string>{""});
  EXPECT_EQ(alt.settings.packet, DefaultSettings().packet);
}

TEST_F(DataSetFileTest, ASaveThatCannotWriteReportsFalseAndKeepsTheEarlierFile) {
  alt.packets = ThreeSets();
  // A folder that cannot be written (its "folder" is a file).
  WriteFileBytes(dir.Path("plain"), "x");
  EXPECT_FALSE(alt.SaveDataSet(dir.WidePath("plain/flight.ulk"), 0));
  EXPECT_FALSE(alt.SaveDataSet(dir.WidePath("missing/flight.ulk"), 0));
  EXPECT_FALSE(alt.SaveDataSet(L"", 0));
  std::filesystem::create_directory(dir.Path("folder.ulk"));
  EXPECT_FALSE(alt.SaveDataSet(dir.WidePath("folder.ulk"), 0));

  // A write that fails once the file is open (the file size limit stands in for a full disk).
  const std::string earlier = "the user's earlier file";
  WriteFileBytes(dir.Path("full.ulk"), earlier);
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 100;
  bool saved = true;
  {
    TraceCapture trace;  // nothing may reach a file while the limit stands
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    saved = alt.SaveDataSet(dir.WidePath("full.ulk"), 0);
    setrlimit(RLIMIT_FSIZE, &old);
  }
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(saved);
  EXPECT_EQ(ReadFileBytes(dir.Path("full.ulk")), earlier);
  EXPECT_FALSE(std::filesystem::exists(dir.Path("full.ulk.~ulktmp")));
  // Without the limit the same save replaces it.
  EXPECT_TRUE(alt.SaveDataSet(dir.WidePath("full.ulk"), 0));
  EXPECT_EQ(ReadFileBytes(dir.Path("full.ulk")).size(), 52u + 2 * 64 + 1);
}

TEST_F(DataSetFileTest, TheSmallFixtureLoadsAndSavesBackByteForByte) {
  ASSERT_TRUE(alt.LoadDataSet(FixturePath("small-flight.ulk").wstring()));
  ASSERT_EQ(alt.packets.size(), 2u);
  EXPECT_EQ(alt.packets[1].type, 5);
  EXPECT_EQ(alt.packets[1].temperature, -12);
  EXPECT_EQ(alt.packets[0].samples[1], SampleWord(13270, 84, 0b0011));
  EXPECT_EQ(alt.comments, std::vector<std::string>{"Test <flight> & \"A\"'s"});
  ASSERT_TRUE(alt.SaveDataSet(dir.WidePath("copy.ulk"), 0));
  EXPECT_EQ(ReadFileBytes(dir.Path("copy.ulk")), ReadFileBytes(FixturePath("small-flight.ulk")));
}

}  // namespace

TEST_F(DataSetFileTest, AnErasedPacketInsideASetEndsItForThePlotAndTheSavedFileAlike) {
  // A damaged or crafted file: a set whose packets go on past an erased one.
  std::vector<CFlashPacket> packets = {RampPacket(2, 5000, 1), RampPacket(5, 5015, 1), MakePacket(0xFF),
                                       RampPacket(5, 9000, 1)};
  WriteFileBytes(dir.Path("erased.ulk"), FileBytes(packets, DefaultSettings(), Comment("c")));
  ASSERT_TRUE(alt.LoadDataSet(dir.WidePath("erased.ulk")));
  ASSERT_TRUE(alt.SelectDataSet(0));
  const std::vector<uint32_t> shown = alt.flight.rawSamples;
  EXPECT_EQ(shown.size(), 30u);
  EXPECT_EQ(shown.back(), SampleWord(5029));

  ASSERT_TRUE(alt.SaveDataSet(dir.WidePath("again.ulk"), 0));
  CAltimeter other;
  ASSERT_TRUE(other.LoadDataSet(dir.WidePath("again.ulk")));
  EXPECT_EQ(other.packets.size(), 2u);
  ASSERT_TRUE(other.SelectDataSet(0));
  EXPECT_EQ(other.flight.rawSamples, shown);
}

TEST_F(DataSetFileTest, StreamFormsReadAndWriteTheFileBytes) {
  alt.packets = ThreeSets();
  alt.comments = {"a", "second"};
  ASSERT_TRUE(alt.SaveDataSet(dir.WidePath("set1.ulk"), 1));
  std::ostringstream written;
  alt.WriteDataSet(written, 1);
  EXPECT_EQ(written.str(), ReadFileBytes(dir.Path("set1.ulk")));

  CAltimeter other;
  std::istringstream in(written.str());
  ASSERT_TRUE(other.LoadDataSet(in));
  EXPECT_EQ(other.packets.size(), 3u);
  EXPECT_EQ(other.comments, std::vector<std::string>{"second"});

  // A count of 65535 packets over a stream that holds two stops at its end.
  std::string claims = written.str();
  claims[24] = '\xFF';
  claims[25] = '\xFF';
  std::istringstream shortIn(claims);
  DataSetFileContents contents;
  EXPECT_EQ(ReadDataSet(shortIn, contents), DataSetFileStatus::Truncated);
  EXPECT_LE(contents.packets.capacity(), claims.size() / 64);
}
