#include <gtest/gtest.h>

#include "device/Altimeter.h"
#include "flightdata/FlightJson.h"
#include "flightdata/Logbook.h"
#include "tests/TestSupport.h"
#include "tests/flightdata/FlightTestSupport.h"

namespace {

// What the JSON outputs make of a file's bytes (comments, paths).
TEST(Logbook, JsonStringsKeepUtf8AndReadOtherBytesAsLatin1) {
  struct Case {
    const char* text;
    const char* json;
  };
  for (Case c : {
           Case{"plain", "\"plain\""},
           Case{"a \"b\" \\ c", "\"a \\\"b\\\" \\\\ c\""},
           Case{"one\ntwo\r\tend\x01", "\"one\\ntwo\\r\\tend\\u0001\""},
           // Two, three and four bytes, and the highest character there is.
           Case{"\xC3\xBC \xE2\x9C\x93 \xF0\x9D\x84\x9E \xF4\x8F\xBF\xBF", "\"\xC3\xBC \xE2\x9C\x93 \xF0\x9D\x84\x9E \xF4\x8F\xBF\xBF\""},
           // Not UTF-8, each byte read as Latin-1: a code page byte, a stray
           // continuation, an overlong slash, a surrogate, past U+10FFFF, a cut sequence.
           Case{"\xFC", "\"\xC3\xBC\""},
           Case{"\x80", "\"\xC2\x80\""},
           Case{"\xC0\xAF", "\"\xC3\x80\xC2\xAF\""},
           Case{"\xED\xA0\x80", "\"\xC3\xAD\xC2\xA0\xC2\x80\""},
           Case{"\xF4\x90\x80\x80", "\"\xC3\xB4\xC2\x90\xC2\x80\xC2\x80\""},
           Case{"\xE2\x9C", "\"\xC3\xA2\xC2\x9C\""},
           Case{"\xE2\x9C" "a", "\"\xC3\xA2\xC2\x9C" "a\""},
       }) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(JsonLine(JsonText(c.text)), c.json);
  }
}

TEST(Logbook, CsvFieldsAreQuotedWhereRfc4180AsksForIt) {
  struct Case {
    const char* text;
    const char* field;
  };
  for (Case c : {Case{"plain text; 'single'", "plain text; 'single'"}, Case{"", ""}, Case{"a,b", "\"a,b\""},
                 Case{"say \"hi\"", "\"say \"\"hi\"\"\""}, Case{"two\nlines", "\"two\nlines\""},
                 Case{"cr\r", "\"cr\r\""}}) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(CsvField(c.text), c.field);
  }
}

// A row is the file's own: an implausible first altitude is not taken from
// whatever the process decoded before, and the process keeps its value.
TEST(Logbook, ARowDoesNotDependOnWhatWasDecodedBefore) {
  ScratchDir dir;
  CAltimeter alt;
  alt.packets = {MakePacket(2, {SampleWord(0xFFFFF), SampleWord(12000)})};
  ASSERT_TRUE(alt.SaveDataSet(dir.WidePath("high.ulk"), 0));

  std::vector<double> grounds;
  for (float before : {0.0f, 777.0f}) {
    SetLastValidAltitude(before);
    ASSERT_TRUE(ForEachLogbookRow({dir.Path("high.ulk")}, [&](const LogbookRow& row) {
      grounds.push_back(row.summary.groundAltitudeMsl.value_or(-1));
    }));
    EXPECT_EQ(LastValidAltitude(), before);
  }
  EXPECT_EQ(grounds, (std::vector<double>{0.0, 0.0}));
}

}  // namespace
