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
