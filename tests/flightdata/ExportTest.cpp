#include <sstream>

#include "device/Altimeter.h"
#include "tests/TestSupport.h"
#include "tests/flightdata/FlightTestSupport.h"

namespace {

class ExportTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  CAltimeter alt;
};

TEST_F(ExportTest, TheSmallFixtureExportsToItsHandCheckedBytes) {
  ASSERT_TRUE(alt.LoadDataSet(FixturePath("small-flight.ulk").wstring()));
  ASSERT_TRUE(alt.WriteCsv(0, dir.WidePath("out.csv")));
  ASSERT_TRUE(alt.WriteXml(0, dir.WidePath("out.xml")));
  EXPECT_EQ(ReadFileBytes(dir.Path("out.csv")), ReadFileBytes(FixturePath("small-flight.csv")));
  EXPECT_EQ(ReadFileBytes(dir.Path("out.xml")), ReadFileBytes(FixturePath("small-flight.xml")));
  EXPECT_EQ(alt.flight.selectedSet, 0);
  // The stream forms write the same bytes.
  std::ostringstream csv, xml;
  alt.WriteCsv(0, csv);
  alt.WriteXml(0, xml);
  EXPECT_EQ(csv.str(), ReadFileBytes(FixturePath("small-flight.csv")));
  EXPECT_EQ(xml.str(), ReadFileBytes(FixturePath("small-flight.xml")));
}

TEST_F(ExportTest, AnEmptySetWritesTheFrameOnlyAndTheCommentBlockFollowsTheCommentList) {
  alt.packets = {MakePacket(2, {})};
  const std::string head = "<xml>\n\t<flightdata version=\"1.0\">\n\t\t<device name=\"ULK USB 1.2\" />\n";
  const std::string tail = "\t\t<data format=\"MSL\">\n\t\t</data>\n\t</flightdata>\n</xml>";
  struct Case {
    std::vector<std::string> comments;
    std::string block;
  };
  for (const Case& c : {Case{{}, ""}, Case{{""}, "\t\t<comments>\n\t\t\t\n\t\t</comments>\n"},
                        Case{{"a 'b' <c>"}, "\t\t<comments>\n\t\t\ta 'b' &lt;c&gt;\n\t\t</comments>\n"}}) {
    alt.comments = c.comments;
    ASSERT_TRUE(alt.WriteXml(0, dir.WidePath("e.xml")));
    EXPECT_EQ(ReadFileBytes(dir.Path("e.xml")), head + c.block + tail);
  }
  ASSERT_TRUE(alt.WriteCsv(0, dir.WidePath("e.csv")));
  EXPECT_EQ(ReadFileBytes(dir.Path("e.csv")),
            "Time, Battery Voltage (Volts), Temperature (Deg. c), Altitude (MSL), Altitude (AGL), Velocity (km/h), "
            "Line A On, Line B On, Line A Cont., Line B Cont.\n");
}

TEST_F(ExportTest, RowsCarryLineStatesTimesAndLineFeedsOnly) {
  // 84 packets, 1260 samples; sample 2 has bits 31 and 28, sample 3 bits 30 and 29.
  for (uint32_t p = 0; p < 84; ++p) alt.packets.push_back(RampPacket(p == 0 ? 2 : 1, 13000 + 15 * p, 1));
  alt.packets[0].samples[2] |= 0x9u << 28;
  alt.packets[0].samples[3] |= 0x6u << 28;
  ASSERT_TRUE(alt.WriteCsv(0, dir.WidePath("rows.csv")));
  std::string csv = ReadFileBytes(dir.Path("rows.csv"));
  EXPECT_EQ(csv.find('\r'), std::string::npos);
  std::vector<std::string> rows;
  std::istringstream in(csv);
  for (std::string row; std::getline(in, row);) rows.push_back(row);
  ASSERT_EQ(rows.size(), 1261u);
  EXPECT_EQ(rows[1].substr(0, 2), "0,");
  EXPECT_EQ(rows[1].substr(rows[1].size() - 8), ",0,0,0,0");
  EXPECT_EQ(rows[3].substr(rows[3].size() - 14), ",1000,0,0,1000");
  EXPECT_EQ(rows[4].substr(rows[4].size() - 14), ",0,1000,1000,0");
  EXPECT_EQ(rows[1235].substr(0, 6), "123.4,");

  ASSERT_TRUE(alt.WriteXml(0, dir.WidePath("rows.xml")));
  std::string xml = ReadFileBytes(dir.Path("rows.xml"));
  EXPECT_EQ(xml.find('\r'), std::string::npos);
  EXPECT_NE(xml.find("\t\t\t<MSL t=\"123.4\" z=\"1423.4\" />\n"), std::string::npos);
  EXPECT_EQ(xml.substr(xml.size() - 7), "\n</xml>");
}

TEST(ExportFormat, NumbersAreWrittenAsADefaultStreamWritesThem) {
  for (double v : {0.0, -0.0, 0.1, 1234.56, 12345.67, 123456.7, 1234567.0, 0.0001, 0.00001234, -1.2000000000000002,
                   32760.0, 8.4, 1e21, -987654.321, 0.30000000000000004, 1.0 / 3, 999999.5, 9999995.0}) {
    std::ostringstream stream;
    stream << v;
    EXPECT_EQ(FormatStreamNumber(v), stream.str()) << v;
  }
  EXPECT_EQ(FormatStreamNumber(12345.67), "12345.7");
  EXPECT_EQ(FormatStreamNumber(1234567.0), "1.23457e+06");
}

TEST(ExportFormat, EscapeXmlReplacesTheFourSpecialCharacters) {
  EXPECT_EQ(CAltimeter::EscapeXml("<a & \"b\"> 'c'"), "&lt;a &amp; &quot;b&quot;&gt; 'c'");
  EXPECT_EQ(CAltimeter::EscapeXml("&amp;"), "&amp;amp;");
  EXPECT_EQ(CAltimeter::EscapeXml(""), "");
  EXPECT_EQ(CAltimeter::EscapeXml("\xE9t\xE9"), "\xE9t\xE9");
}

TEST_F(ExportTest, AnExportThatCannotBeWrittenReportsFalseAndKeepsTheEarlierFile) {
  alt.packets = {RampPacket(2, 13000, 1)};
  WriteFileBytes(dir.Path("plain"), "x");
  EXPECT_FALSE(alt.WriteCsv(0, dir.WidePath("plain/out.csv")));
  EXPECT_FALSE(alt.WriteXml(0, dir.WidePath("missing/out.xml")));
  std::filesystem::create_directory(dir.Path("taken.csv"));
  EXPECT_FALSE(alt.WriteCsv(0, dir.WidePath("taken.csv")));
  EXPECT_TRUE(std::filesystem::is_directory(dir.Path("taken.csv")));
  // An existing file is replaced whole.
  WriteFileBytes(dir.Path("old.csv"), std::string(100000, 'z'));
  ASSERT_TRUE(alt.WriteCsv(0, dir.WidePath("old.csv")));
  EXPECT_EQ(ReadFileBytes(dir.Path("old.csv")).find('z'), std::string::npos);
}

}  // namespace
