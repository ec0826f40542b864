#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "app/StatusText.h"

namespace {

constexpr size_t kRoom = StatusText::kCapacity - 1;

TEST(StatusText, AppendsPiecesInOrder) {
  StatusText status;
  status.Append(L"Device Connected.\r\n");
  status.Append(L"Current device firmware version: 4.05\r\n");
  EXPECT_EQ(status.Text(), L"Device Connected.\r\nCurrent device firmware version: 4.05\r\n");
}

TEST(StatusText, AFullBufferDropsItsOldestLinesAndKeepsTheNewest) {
  StatusText status;
  // Numbered lines of 16 characters each, more than the buffer holds.
  auto line = [](int i) {
    std::wstring n = std::to_wstring(i);
    return L"Packet " + std::wstring(7 - n.size(), L'0') + n + L"\r\n";
  };
  const int count = static_cast<int>(kRoom / 16) + 500;
  for (int i = 0; i < count; ++i) status.Append(line(i));
  std::wstring text = status.Text();
  EXPECT_LE(text.size(), kRoom);
  EXPECT_GT(text.size(), kRoom - 16);
  // Ends with the newest line and starts at a whole line.
  EXPECT_EQ(text.substr(text.size() - 16), line(count - 1));
  EXPECT_EQ(text.substr(0, 7), L"Packet ");
  EXPECT_EQ(text.size() % 16, 0u);
}

TEST(StatusText, OversizedPiecesAndUnbrokenTextStillFit) {
  StatusText status;
  status.Append(L"old\r\n");
  std::wstring huge(kRoom + 10, L'x');
  huge += L"end\r\n";
  status.Append(huge);
  std::wstring text = status.Text();
  EXPECT_EQ(text.size(), kRoom);
  EXPECT_EQ(text.substr(text.size() - 5), L"end\r\n");

  // A buffer without line ends is dropped whole for the next line.
  StatusText noBreaks;
  noBreaks.Append(std::wstring(kRoom - 2, L'y'));
  noBreaks.Append(L"next\r\n");
  EXPECT_EQ(noBreaks.Text(), L"next\r\n");
}

// A box that shows the text up to a point gets only what came after it,
// until lines it shows are dropped: then the whole text again.
TEST(StatusText, ABoxGetsWhatCameSinceItsLastLookOrTheWholeTextOnceLinesWereDropped) {
  StatusText status;
  StatusText::Change c = status.Since(0);
  EXPECT_FALSE(c.whole);
  EXPECT_EQ(c.text, L"");
  EXPECT_EQ(c.end, 0u);

  status.Append(L"Reading data...\r\n");
  c = status.Since(0);
  EXPECT_FALSE(c.whole);
  EXPECT_EQ(c.text, L"Reading data...\r\n");
  std::wstring shown = c.text;
  status.Append(L"Packet Read: 0\r\n");
  status.Append(L"Packet Read: 1\r\n");
  c = status.Since(c.end);
  EXPECT_FALSE(c.whole);
  EXPECT_EQ(c.text, L"Packet Read: 0\r\nPacket Read: 1\r\n");
  shown += c.text;
  EXPECT_EQ(shown, status.Text());
  EXPECT_EQ(status.Since(c.end).text, L"");

  // Past the capacity the oldest lines go; the box must show the text anew.
  const uint64_t before = c.end;
  for (size_t i = 0; i < kRoom / 20 + 10; ++i) status.Append(L"Filler line no. xx\r\n");
  status.Append(L"Packet Read: 2\r\n");
  status.Append(L"Packet Read: 3\r\n");
  c = status.Since(before);
  EXPECT_TRUE(c.whole);
  EXPECT_EQ(c.text, status.Text());
  EXPECT_EQ(c.text.substr(c.text.size() - 16), L"Packet Read: 3\r\n");
  EXPECT_FALSE(status.Since(c.end).whole);
  EXPECT_EQ(status.Since(c.end).text, L"");
}

TEST(StatusText, AppendsFromTwoThreadsLoseNothing) {
  StatusText status;
  auto writer = [&status](wchar_t mark) {
    for (int i = 0; i < 2000; ++i) status.Append(std::wstring(1, mark) + L"\r\n");
  };
  std::thread a(writer, L'a');
  std::thread b(writer, L'b');
  a.join();
  b.join();
  std::wstring text = status.Text();
  EXPECT_EQ(text.size(), 4000u * 3);
  for (size_t i = 0; i < text.size(); i += 3) {
    ASSERT_TRUE(text[i] == L'a' || text[i] == L'b');
    ASSERT_EQ(text.substr(i + 1, 2), L"\r\n");
  }
}

}  // namespace
