#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/ProgramInfo.h"
#include "settings/AboutText.h"

namespace {

// The program's version, as written once in VERSION.
std::wstring VersionFile() {
  std::ifstream in(ULK_SOURCE_DIR "/VERSION");
  std::string line;
  std::getline(in, line);
  return std::wstring(line.begin(), line.end());
}

TEST(AboutText, FivePiecesWithTheProgramsOwnVersions) {
  std::vector<std::wstring> pieces = AboutTextPieces();
  ASSERT_EQ(pieces.size(), 5u);
  EXPECT_EQ(pieces[0], L"Visit https://ulkusb.example.org/ for updates and further info.\r\n\r\n");
  ASSERT_FALSE(VersionFile().empty());
  EXPECT_EQ(pieces[1], L"Software is version " + VersionFile() + L" and is designed for:\r\n\r\n");
  EXPECT_EQ(kProgramTitle, L"ULK USB " + VersionFile());
  EXPECT_EQ(pieces[2], L"Firmware version 4.0x\r\n");
  EXPECT_EQ(pieces[3], L"Bootloader version 4.0x\r\n");
  EXPECT_EQ(pieces[4], L"Hardware version 4.0x\r\n");
}

}  // namespace
