#include <filesystem>
#include <regex>

#include "device/Altimeter.h"
#include "tests/TestSupport.h"
#include "tests/flightdata/FlightTestSupport.h"

namespace {

class FlightToolTest : public ::testing::Test {
 protected:
  std::string Quoted(const std::filesystem::path& path) const { return "'" + path.string() + "'"; }
  ScratchDir dir;
};

TEST_F(FlightToolTest, DownloadSavesEveryFlightWithItsCsvAndTheExportsReproduceIt) {
  std::filesystem::path folder = dir.Path("flights");
  ToolRun run = RunTool("--device sim:clock=virtual download " + Quoted(folder) + " --csv");
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<std::string> lines = LinesOf(run.out);
  ASSERT_FALSE(lines.empty());
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines.back(), m, std::regex("Packets Read: ([0-9]+)")));
  int packets = std::stoi(m[1]);
  // Into a file: the saved files and the count, no line a packet.
  EXPECT_EQ(lines.size(), 7u);
  for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i].rfind("Saved ", 0), 0u) << lines[i];
  EXPECT_NE(run.err.find("Settings read successfully."), std::string::npos);

  int stored = 0;
  for (int k = 1; k <= 3; ++k) {
    SCOPED_TRACE(k);
    std::filesystem::path ulk = folder / ("flight-" + std::to_string(k) + ".ulk");
    std::filesystem::path csv = folder / ("flight-" + std::to_string(k) + ".csv");
    CAltimeter alt;
    ASSERT_TRUE(alt.LoadDataSet(ulk.wstring()));
    EXPECT_EQ(alt.CountDataSets(), 1);
    stored += static_cast<int>(alt.packets.size());
    // The tool's csv and xml write what the program's exports write.
    ASSERT_EQ(RunTool("csv " + Quoted(ulk) + " " + Quoted(dir.Path("again.csv"))).status, 0);
    EXPECT_EQ(ReadFileBytes(dir.Path("again.csv")), ReadFileBytes(csv));
    ASSERT_TRUE(alt.WriteXml(0, dir.WidePath("program.xml")));
    ASSERT_EQ(RunTool("xml " + Quoted(ulk) + " " + Quoted(dir.Path("tool.xml"))).status, 0);
    EXPECT_EQ(ReadFileBytes(dir.Path("tool.xml")), ReadFileBytes(dir.Path("program.xml")));
  }
  EXPECT_EQ(stored, packets);
  EXPECT_FALSE(std::filesystem::exists(folder / "flight-4.ulk"));
}

TEST_F(FlightToolTest, DownloadOfAnEmptyMemoryOrWithoutADevice) {
  ToolRun empty = RunTool("--device sim:empty,clock=virtual download " + Quoted(dir.Path("none")));
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out, "Packets Read: 0\n");
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path("none")));

  ToolRun absent = RunTool("--device exec:true download " + Quoted(dir.Path("absent")));
  EXPECT_EQ(absent.status, 3);
  EXPECT_NE(absent.err.find("Altimeter not found."), std::string::npos);

  EXPECT_EQ(RunTool("download").status, 2);
  EXPECT_EQ(RunTool("csv " + Quoted(FixturePath("small-flight.ulk"))).status, 2);
}

// A second download into the same folder replaces nothing unasked: the files
// of the first keep every byte, and nothing is downloaded.
TEST_F(FlightToolTest, ASecondDownloadIntoTheSameFolderRefusesUnlessForced) {
  std::filesystem::path folder = dir.Path("flights");
  ASSERT_EQ(RunTool("--device sim:clock=virtual download " + Quoted(folder)).status, 0);
  const std::filesystem::path first = folder / "flight-1.ulk";
  WriteFileBytes(first, "the first download's bytes");
  ToolRun again = RunTool("--device sim:clock=virtual download " + Quoted(folder));
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.out, "");
  EXPECT_NE(again.err.find("already holds flight-1.ulk flight-2.ulk flight-3.ulk"), std::string::npos) << again.err;
  EXPECT_EQ(again.err.find("Reading data..."), std::string::npos) << again.err;
  EXPECT_EQ(ReadFileBytes(first), "the first download's bytes");

  // A folder of other files is no earlier download; --force replaces one.
  std::filesystem::create_directories(dir.Path("other"));
  WriteFileBytes(dir.Path("other/flight-notes.ulk"), "x");
  EXPECT_EQ(RunTool("--device sim:clock=virtual download " + Quoted(dir.Path("other"))).status, 0);
  ToolRun forced = RunTool("--device sim:clock=virtual download " + Quoted(folder) + " --force");
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_NE(ReadFileBytes(first), "the first download's bytes");
}

TEST_F(FlightToolTest, ExportsOfTheFixtureAndTheirFailures) {
  ASSERT_EQ(RunTool("csv " + Quoted(FixturePath("small-flight.ulk")) + " " + Quoted(dir.Path("s.csv"))).status, 0);
  EXPECT_EQ(ReadFileBytes(dir.Path("s.csv")), ReadFileBytes(FixturePath("small-flight.csv")));
  ASSERT_EQ(RunTool("xml " + Quoted(FixturePath("small-flight.ulk")) + " " + Quoted(dir.Path("s.xml"))).status, 0);
  EXPECT_EQ(ReadFileBytes(dir.Path("s.xml")), ReadFileBytes(FixturePath("small-flight.xml")));

  WriteFileBytes(dir.Path("junk.ulk"), "not a data set file at all");
  ToolRun junk = RunTool("csv " + Quoted(dir.Path("junk.ulk")) + " " + Quoted(dir.Path("j.csv")));
  EXPECT_EQ(junk.status, 1);
  EXPECT_EQ(junk.err, "Could not load file. Make sure the file is valid and not locked.\n");
  EXPECT_FALSE(std::filesystem::exists(dir.Path("j.csv")));
  ToolRun unwritable =
      RunTool("xml " + Quoted(FixturePath("small-flight.ulk")) + " " + Quoted(dir.Path("missing/s.xml")));
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.err.find("Error saving file."), std::string::npos);
}

TEST_F(FlightToolTest, InfoSummarisesTheFixture) {
  ToolRun json = RunTool("info --json " + Quoted(FixturePath("small-flight.ulk")));
  ASSERT_EQ(json.status, 0) << json.err;
  for (const char* pair : {"\"packets\": 2", "\"dataSets\": 1", "\"samples\": 4", "\"apogeeAgl\": 35.5",
                           "\"apogeeTime\": 0.3", "\"maxVelocity\": 33.1954", "\"maxVelocityTime\": 0.2",
                           "\"settingsValid\": true", "\"lineAFirstFired\": 0.2", "\"lineBFirstFired\": 0.3",
                           "\"comment\": \"Test <flight> & \\\"A\\\"'s\"",
                           "\"settingsPacket\": \"013c001400500000329600960000000400001414e902\""})
    EXPECT_NE(json.out.find(pair), std::string::npos) << pair << "\n" << json.out;
  EXPECT_EQ(LinesOf(json.out).size(), 1u);

  ToolRun text = RunTool("info " + Quoted(FixturePath("small-flight.ulk")));
  ASSERT_EQ(text.status, 0);
  for (const char* line : {"Samples: 4 (0.3 s)", "Ground altitude: 1320.0 m MSL", "Apogee: 35.5 m AGL at 0.3 s",
                           "Battery minimum: 8.2 V", "Temperature: -1.2 to 21.5 C", "Settings: checksum valid, "
                           "packet 013c001400500000329600960000000400001414e902"})
    EXPECT_NE(text.out.find(std::string(line) + "\n"), std::string::npos) << line << "\n" << text.out;
}

TEST_F(FlightToolTest, InfoShowsAFileWhoseSettingsFailTheirChecksum) {
  std::string bytes = ReadFileBytes(FixturePath("small-flight.ulk"));
  bytes[26 + 128 + 9] ^= 0x01;  // lineAValue, checksum left as it was
  WriteFileBytes(dir.Path("bad.ulk"), bytes);
  ToolRun json = RunTool("info --json " + Quoted(dir.Path("bad.ulk")));
  ASSERT_EQ(json.status, 0);
  EXPECT_NE(json.out.find("\"settingsValid\": false"), std::string::npos);
  EXPECT_NE(json.out.find("\"lineAValue\": 151"), std::string::npos);
  EXPECT_EQ(RunTool("info " + Quoted(dir.Path("nothing.ulk"))).status, 1);
}

}  // namespace

namespace {

// Found by fuzzing: a file name outside ASCII (or not UTF-8 at all) made the
// tool abort on an exception from the path conversion of the C locale.
TEST_F(FlightToolTest, FileNamesOutsideAsciiAreFilesLikeAnyOther) {
  const std::string folder = dir.Path("fl\xC3\xBCge \xD1\x84");
  ToolRun download = RunTool("--device sim:clock=virtual download '" + folder + "' --csv");
  ASSERT_EQ(download.status, 0) << download.err;
  EXPECT_TRUE(std::filesystem::exists(folder + "/flight-1.ulk"));
  EXPECT_TRUE(std::filesystem::exists(folder + "/flight-1.csv"));
  EXPECT_NE(download.out.find("Saved " + folder + "/flight-1.ulk"), std::string::npos);

  std::filesystem::rename(folder + "/flight-1.ulk", folder + "/\xC3\xA9t\xC3\xA9.ulk");
  ToolRun info = RunTool("info '" + folder + "/\xC3\xA9t\xC3\xA9.ulk'");
  EXPECT_EQ(info.status, 0) << info.err;
  ToolRun xml = RunTool("xml '" + folder + "/\xC3\xA9t\xC3\xA9.ulk' '" + folder + "/\xC3\xA9t\xC3\xA9.xml'");
  EXPECT_EQ(xml.status, 0) << xml.err;
  EXPECT_TRUE(std::filesystem::exists(folder + "/\xC3\xA9t\xC3\xA9.xml"));

  // Bytes that are no UTF-8 at all name no file, and say so.
  ToolRun broken = RunTool("info '" + dir.Path("f\xF1\xFF\xFF\xFF.ulk") + "'");
  EXPECT_EQ(broken.status, 1);
  EXPECT_FALSE(broken.err.empty());
}

}  // namespace
