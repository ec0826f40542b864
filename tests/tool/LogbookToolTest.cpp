#include <filesystem>
#include <map>
#include <regex>

#include "device/Altimeter.h"
#include "simulator/SimFlightComputer.h"
#include "tests/TestSupport.h"
#include "tests/flightdata/FlightTestSupport.h"

namespace {

// Records and fields as RFC 4180 reads them; a bare line feed outside quotes
// stays in its field, so a record that a comment broke shows up.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      record.push_back(field);
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      record.push_back(field);
      records.push_back(record);
      field.clear();
      record.clear();
      ++i;
    } else {
      field += c;
    }
  }
  if (!field.empty() || !record.empty()) {
    record.push_back(field);
    records.push_back(record);
  }
  return records;
}

// The raw JSON text of a key's value in a one-line object: null, a number or a quoted string.
std::string JsonValue(const std::string& object, const std::string& key) {
  std::smatch m;
  std::regex pattern("\"" + key + "\": (null|\"(?:[^\"\\\\]|\\\\.)*\"|[^,}]*)");
  return std::regex_search(object, m, pattern) ? m[1].str() : "(absent)";
}

const char* const kSharedKeys[] = {"samples",        "duration",        "groundAltitudeMsl", "apogeeAgl",
                                   "apogeeTime",     "maxVelocity",     "maxVelocityTime",   "lineAFirstFired",
                                   "lineBFirstFired", "batteryMin",     "temperatureMin",    "temperatureMax",
                                   "comment"};

const char kWindy[] = "Windy, \"gusty\"\nsecond line \xC3\xBC" "ber the field";

class LogbookToolTest : public ::testing::Test {
 protected:
  // root/B/Deep/c.ULK        the simulator's second flight
  // root/B/three.ulk         all three of its flights in one file
  // root/a.ulk               the first, with a comment that CSV must quote
  // root/b-notes.txt         not a data set file's name: passed over
  // root/damaged.ulk         a file cut inside its packets
  // root/empty.ulk           nothing at all
  // alone/flight-K.ulk       each flight saved alone, as a download saves it
  void SetUp() override {
    SimFlightComputer device(SimFlightComputer::Config{});
    for (size_t i = 0; i < kMaxFlashPackets; ++i) {
      CFlashPacket packet = CFlashPacket::FromBytes(&device.flash[64 * i]);
      if (packet.type == kErasedType) break;
      alt.packets.push_back(packet);
    }
    ASSERT_EQ(alt.CountDataSets(), 3);
    std::filesystem::create_directories(Root() / "B" / "Deep");
    std::filesystem::create_directories(dir.Path("alone"));
    for (int32_t k = 0; k < 3; ++k)
      ASSERT_TRUE(alt.SaveDataSet(dir.WidePath("alone/flight-" + std::to_string(k + 1) + ".ulk"), k));
    std::filesystem::copy_file(dir.Path("alone/flight-2.ulk"), Root() / "B" / "Deep" / "c.ULK");

    ASSERT_TRUE(alt.StoreCommentOf(0, "three in one"));
    WriteFileBytes(Root() / "B" / "three.ulk", AllSetsInOneFile());
    ASSERT_TRUE(alt.StoreCommentOf(0, kWindy));
    ASSERT_TRUE(alt.SaveDataSet((Root() / "a.ulk").wstring(), 0));
    WriteFileBytes(Root() / "b-notes.txt", "not a flight");
    WriteFileBytes(Root() / "damaged.ulk", ReadFileBytes(Root() / "a.ulk").substr(0, 26 + 64 * 3 + 10));
    WriteFileBytes(Root() / "empty.ulk", "");
  }

  // The memory image whole: the header and the tail (settings, comment) of a
  // saved first set around every packet.
  std::string AllSetsInOneFile() {
    std::filesystem::path scratch = dir.Path("scratch.ulk");
    EXPECT_TRUE(alt.SaveDataSet(scratch.wstring(), 0));
    std::string one = ReadFileBytes(scratch);
    std::filesystem::remove(scratch);
    std::string bytes = one.substr(0, 24);
    bytes += static_cast<char>(alt.packets.size() & 0xFF);
    bytes += static_cast<char>(alt.packets.size() >> 8);
    for (const CFlashPacket& packet : alt.packets) {
      std::array<uint8_t, 64> b = packet.ToBytes();
      bytes.append(reinterpret_cast<const char*>(b.data()), b.size());
    }
    return bytes + one.substr(26 + 64 * static_cast<size_t>(alt.PacketCountOfSet(0)));
  }

  static std::string Quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }
  std::filesystem::path Root() const { return dir.Path("root"); }
  // The JSON rows of a logbook, one a line.
  static std::vector<std::string> Rows(const ToolRun& run) {
    std::vector<std::string> rows;
    for (const std::string& line : LinesOf(run.out))
      if (!line.empty() && line[0] == '{') rows.push_back(line.back() == ',' ? line.substr(0, line.size() - 1) : line);
    return rows;
  }
  // The row of a file's set: "ROOT-RELATIVE-PATH #SET".
  std::map<std::string, std::string> RowsByFileAndSet(const ToolRun& run) const {
    std::map<std::string, std::string> rows;
    for (const std::string& row : Rows(run)) rows[Named(row)] = row;
    return rows;
  }
  std::string Named(const std::string& row) const {
    std::string file = JsonValue(row, "file");
    std::string prefix = "\"" + Root().string() + "/";
    if (file.rfind(prefix, 0) == 0) file = file.substr(prefix.size(), file.size() - prefix.size() - 1);
    return file + " #" + JsonValue(row, "set");
  }

  ScratchDir dir;
  CAltimeter alt;
};

TEST_F(LogbookToolTest, ListsEveryFlightOfATreeInPathOrderAndNamesWhatFailed) {
  std::filesystem::path missing = dir.Path("no such folder");
  ToolRun json = RunTool("logbook --json " + Quoted(Root()) + " " + Quoted(missing));
  EXPECT_EQ(json.status, 1) << json.err;
  EXPECT_EQ(json.err, "");
  std::vector<std::string> named, sets, errors;
  for (const std::string& row : Rows(json)) {
    named.push_back(Named(row));
    sets.push_back(JsonValue(row, "set") == "null" ? "" : JsonValue(row, "set"));
    errors.push_back(JsonValue(row, "error"));
  }
  const std::string gone = "\"" + missing.string() + "\" #null";
  EXPECT_EQ(named, (std::vector<std::string>{"B/Deep/c.ULK #1", "B/three.ulk #1", "B/three.ulk #2", "B/three.ulk #3",
                                             "a.ulk #1", "damaged.ulk #null", "empty.ulk #null", gone}));
  EXPECT_EQ(errors, (std::vector<std::string>{"null", "null", "null", "null", "null",
                                              "\"damaged: the file ends inside its flight data\"",
                                              "\"empty file\"", "\"no such file or folder\""}));
  // Every key in every row, null where there is nothing.
  for (const std::string& row : Rows(json)) {
    for (const char* key : kSharedKeys) EXPECT_NE(JsonValue(row, key), "(absent)") << key << " in " << row;
    if (JsonValue(row, "error") != "null") {
      EXPECT_EQ(JsonValue(row, "samples"), "null") << row;
    }
  }
  EXPECT_EQ(json.out.substr(0, 2), "[\n");
  EXPECT_EQ(json.out.substr(json.out.size() - 4), "}\n]\n");

  ToolRun csv = RunTool("logbook --csv " + Quoted(Root()) + " " + Quoted(missing));
  EXPECT_EQ(csv.status, 1);
  std::vector<std::vector<std::string>> records = ParseCsv(csv.out);
  ASSERT_EQ(records.size(), 9u) << csv.out;
  EXPECT_EQ(records[0], (std::vector<std::string>{"file", "set", "samples", "duration", "groundAltitudeMsl",
                                                  "apogeeAgl", "apogeeTime", "maxVelocity", "maxVelocityTime",
                                                  "lineAFirstFired", "lineBFirstFired", "batteryMin",
                                                  "temperatureMin", "temperatureMax", "comment", "error"}));
  for (size_t i = 1; i < records.size(); ++i) {
    ASSERT_EQ(records[i].size(), 16u) << i;
    EXPECT_EQ("\"" + records[i][0] + "\"", JsonValue(Rows(json)[i - 1], "file"));
    EXPECT_EQ(records[i][1], sets[i - 1]);
  }
  EXPECT_EQ(records[6][15], "damaged: the file ends inside its flight data");

  ToolRun table = RunTool("logbook " + Quoted(Root()) + " " + Quoted(missing));
  EXPECT_EQ(table.status, 1);
  std::vector<std::string> lines = LinesOf(table.out);
  ASSERT_EQ(lines.size(), 9u) << table.out;
  EXPECT_EQ(lines[0].substr(lines[0].size() - 8), " comment");
  for (size_t i = 1; i < lines.size(); ++i) {
    std::string file = named[i - 1].substr(0, named[i - 1].find(" #"));
    EXPECT_NE(lines[i].find(file.front() == '"' ? missing.string() : (Root() / file).string()), std::string::npos)
        << lines[i];
    EXPECT_EQ(lines[i].rfind("error: ", 0) == 0, errors[i - 1] != "null") << lines[i];
  }
  // The figures stand in the same columns whatever the path.
  for (size_t i : {5, 6}) EXPECT_EQ(lines[i].find(Root().string()), lines[1].find(Root().string())) << lines[i];

  ToolRun good = RunTool("logbook " + Quoted(Root() / "B") + " " + Quoted(Root() / "a.ulk"));
  EXPECT_EQ(good.status, 0) << good.out;
  EXPECT_EQ(LinesOf(good.out).size(), 6u) << good.out;
}

TEST_F(LogbookToolTest, AFileNamedDirectlyIsReadWhateverItsName) {
  std::filesystem::copy_file(Root() / "a.ulk", dir.Path("a flight.dat"));
  ToolRun run = RunTool("logbook --json " + Quoted(dir.Path("a flight.dat")) + " " + Quoted(Root() / "b-notes.txt"));
  EXPECT_EQ(run.status, 1);
  std::vector<std::string> rows = Rows(run);
  ASSERT_EQ(rows.size(), 2u) << run.out;
  EXPECT_EQ(JsonValue(rows[0], "set"), "1");
  EXPECT_EQ(JsonValue(rows[0], "error"), "null");
  EXPECT_EQ(JsonValue(rows[1], "error"), "\"not a data set file\"");
}

TEST_F(LogbookToolTest, EachSetIsWhatInfoSaysOfItAsAFileOfItsOwn) {
  std::map<std::string, std::string> rows = RowsByFileAndSet(RunTool("logbook --json " + Quoted(Root())));
  struct Case {
    std::string row;               // the logbook's row
    std::filesystem::path info;    // what info is asked about
    // The comment is compared where info would write it the same: info
    // reads bytes outside ASCII as Latin-1, and sets after the first have none.
    bool sameComment;
  };
  for (const Case& c : {Case{"B/Deep/c.ULK #1", Root() / "B/Deep/c.ULK", true},
                        Case{"a.ulk #1", Root() / "a.ulk", false},
                        Case{"B/three.ulk #1", Root() / "B/three.ulk", true},
                        Case{"B/three.ulk #2", dir.Path("alone/flight-2.ulk"), false},
                        Case{"B/three.ulk #3", dir.Path("alone/flight-3.ulk"), false}}) {
    SCOPED_TRACE(c.row);
    ASSERT_EQ(rows.count(c.row), 1u);
    ToolRun info = RunTool("info --json " + Quoted(c.info));
    ASSERT_EQ(info.status, 0);
    for (const char* key : kSharedKeys) {
      if (std::string(key) == "comment" && !c.sameComment) continue;
      EXPECT_EQ(JsonValue(rows[c.row], key), JsonValue(info.out, key)) << key;
    }
  }
  EXPECT_NE(JsonValue(rows["B/three.ulk #1"], "samples"), JsonValue(rows["B/three.ulk #2"], "samples"));
  // The file's one comment is its first set's; the others have none.
  EXPECT_EQ(JsonValue(rows["B/three.ulk #1"], "comment"), "\"three in one\"");
  EXPECT_EQ(JsonValue(rows["B/three.ulk #2"], "comment"), "null");
  EXPECT_EQ(JsonValue(rows["B/three.ulk #3"], "comment"), "null");
}

TEST_F(LogbookToolTest, ACommentWithACommaAQuoteAndALineBreakComesThroughIntact) {
  ToolRun json = RunTool("logbook --json " + Quoted(Root() / "a.ulk"));
  ASSERT_EQ(json.status, 0);
  EXPECT_EQ(JsonValue(json.out, "comment"), "\"Windy, \\\"gusty\\\"\\nsecond line \xC3\xBC" "ber the field\"");

  ToolRun csv = RunTool("logbook --csv " + Quoted(Root() / "a.ulk") + " " + Quoted(Root() / "B/three.ulk"));
  ASSERT_EQ(csv.status, 0);
  std::vector<std::vector<std::string>> records = ParseCsv(csv.out);
  ASSERT_EQ(records.size(), 5u) << csv.out;
  EXPECT_EQ(records[1][14], kWindy);
  EXPECT_EQ(records[2][14], "three in one");
  EXPECT_EQ(records[3][14], "");

  // One line a flight in the table, the comment last.
  std::vector<std::string> lines = LinesOf(RunTool("logbook " + Quoted(Root() / "a.ulk")).out);
  ASSERT_EQ(lines.size(), 2u);
  const std::string oneLine = "Windy, \"gusty\" second line \xC3\xBC" "ber the field";
  EXPECT_EQ(lines[1].substr(lines[1].size() - oneLine.size()), oneLine);
}

TEST_F(LogbookToolTest, UsageErrors) {
  for (const std::string& args : std::vector<std::string>{"logbook", "logbook --json",
                                                          "logbook --json --csv " + Quoted(Root()),
                                                          "logbook --tsv " + Quoted(Root())}) {
    SCOPED_TRACE(args);
    ToolRun run = RunTool(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("usage: ulktool logbook PATH..."), std::string::npos) << run.err;
  }
}

}  // namespace
