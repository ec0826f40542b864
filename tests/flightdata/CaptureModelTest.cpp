#include <gtest/gtest.h>

#include "flightdata/CaptureModel.h"
#include "tests/flightdata/FlightTestSupport.h"

namespace {

std::vector<CFlashPacket> Image(const std::string& types) {
  std::vector<CFlashPacket> packets;
  for (char c : types) packets.push_back(MakePacket(c == 'S' ? kSetStartType : 0, {SampleWord(13200)}));
  return packets;
}

TEST(CaptureStrip, SetsAlternateBluesTheSelectedOneIsRedAndTheRestStaysBlack) {
  // Three sets: packets 0-1, 2, 3-5; a packet before any start belongs to set -1.
  struct Case {
    std::string image;
    int32_t selected;
    std::vector<uint32_t> expected;
  };
  const uint32_t R = kStripSelected, A = kStripOddBlue, B = kStripEvenBlue, K = kStripBlack;
  const Case cases[] = {
      {"SdSSdd", 1, {A, A, R, A, A, A, K}},
      {"SdSSdd", 0, {R, R, B, A, A, A, K}},
      {"SdSSdd", -1, {A, A, B, A, A, A, K}},
      {"SdSSdd", 7, {A, A, B, A, A, A, K}},  // a stale set number selects nothing
      {"dS", -1, {R, A, K}},                 // before the first start the set number is -1
      {"", 0, {K, K}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image + " selected " + std::to_string(c.selected));
    StripColumns columns;
    columns.fill(0x12345678);
    DrawStripColumns(Image(c.image), c.selected, columns);
    for (size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(columns[i], c.expected[i]) << "column " << i;
    EXPECT_EQ(columns.back(), K);
  }
}

TEST(CaptureStrip, AFullImageFillsEveryColumnAndMoreIsIgnored) {
  std::vector<CFlashPacket> packets(kMaxFlashPackets + 40, MakePacket(0));
  packets[0].type = kSetStartType;
  StripColumns columns;
  DrawStripColumns(packets, 0, columns);
  EXPECT_EQ(columns.front(), kStripSelected);
  EXPECT_EQ(columns.back(), kStripSelected);
}

TEST(CaptureStrip, ClicksScaleToTheImageAndRoundToTheNearestPacket) {
  struct Case {
    uint32_t x;
    int32_t clientWidth;
    int32_t packet;
  };
  const Case cases[] = {
      {0, 450, 0},           // the left edge is packet 0
      {1, 450, 3},           // 1 / 0.29737 = 3.36, + 0.5 truncated
      {449, 450, 1510},      // 1509.9 + 0.5
      {3, 758, 6},           // scale 0.5: 6 + 0.5 truncates to 6
      {10, 1518, 10},        // one pixel a packet
      {65535, 450, 220383},  // far right of any image
  };
  for (const Case& c : cases) EXPECT_EQ(StripPacketAt(c.x, c.clientWidth), c.packet) << c.x << " at " << c.clientWidth;
}

TEST(CapturePaths, TheCsvGoesBesideTheDataSetFileAndNeverOverIt) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"C:\\flights\\flight.ulk", L"C:\\flights\\flight.csv"},
      {L"C:\\flights\\Flight.ULK", L"C:\\flights\\Flight.csv"},
      {L"C:\\flights\\flight.Ulk", L"C:\\flights\\flight.csv"},
      {L"C:\\flights\\flight.dat", L"C:\\flights\\flight.dat.csv"},
      {L"C:\\flights\\flight", L"C:\\flights\\flight.csv"},
      {L"C:\\my.ulk\\flight.dat", L"C:\\my.ulk\\flight.dat.csv"},  // a folder's ".ulk" is not the extension
      {L"C:\\flights\\flight.ulk.bak", L"C:\\flights\\flight.ulk.bak.csv"},
      {L"/home/me/a.ulk", L"/home/me/a.csv"},
      {L"ulk", L"ulk.csv"},
      {L"", L".csv"},
  };
  for (const auto& [path, csv] : cases) {
    EXPECT_EQ(CsvPathBeside(path), csv);
    EXPECT_NE(CsvPathBeside(path), path);
  }
}

TEST(CaptureLookTable, EachStateEnablesItsControls) {
  struct Case {
    const char* state;
    bool busy, connected, image, valid;
    CaptureLook look;  // read, clear, live, select&close, save selected, save comment, comment, save all
  };
  const Case cases[] = {
      {"idle without data, connected",
       false,
       true,
       false,
       false,
       {true, true, true, false, false, false, false, false}},
      {"idle without data, no device",
       false,
       false,
       false,
       false,
       {false, false, true, false, false, false, false, false}},
      {"downloading", true, true, true, true, {false, false, false, false, false, false, false, false}},
      {"idle with data, no set", false, true, true, false, {true, true, true, true, false, false, false, true}},
      {"idle with data and a set", false, true, true, true, {true, true, true, true, true, true, true, true}},
      {"idle with data, unplugged", false, false, true, true, {false, false, true, true, true, true, true, true}},
      {"stale set, no image", false, true, false, true, {true, true, true, false, false, false, false, false}},
  };
  for (const Case& c : cases) EXPECT_EQ(CaptureButtonStates(c.busy, c.connected, c.image, c.valid), c.look) << c.state;
}

TEST(CaptureComments, ASavedCommentIsKeptEvenWhenTheListHasNoEntryForTheSet) {
  std::vector<std::string> comments = {"first", "second"};
  EXPECT_TRUE(StoreComment(comments, 1, "windy"));
  EXPECT_EQ(comments, (std::vector<std::string>{"first", "windy"}));

  std::vector<std::string> none;  // what a failed load leaves
  EXPECT_TRUE(StoreComment(none, 2, "kept"));
  EXPECT_EQ(none, (std::vector<std::string>{"", "", "kept"}));

  EXPECT_FALSE(StoreComment(comments, -1, "lost"));
  EXPECT_EQ(comments.size(), 2u);
}

}  // namespace
