#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/AboutText.h"

namespace {

TEST(AboutText, FivePiecesWithTheProgramsOwnVersions) {
  std::vector<std::wstring> pieces = AboutTextPieces();
  ASSERT_EQ(pieces.size(), 5u);
  EXPECT_EQ(pieces[0], L"Visit https://ulkusb.example.org/ for updates and further info.\r\n\r\n");
  EXPECT_EQ(pieces[1], L"Software is version 4.00 and is designed for:\r\n\r\n");
  EXPECT_EQ(pieces[2], L"Firmware version 4.0x\r\n");
  EXPECT_EQ(pieces[3], L"Bootloader version 4.0x\r\n");
  EXPECT_EQ(pieces[4], L"Hardware version 4.0x\r\n");
}

}  // namespace
