#include <gtest/gtest.h>

#include <fstream>

#include "app/ProgramInfo.h"
#include "settings/AboutText.h"
#include "app/CommandLine.h"
#include "app/ToWideDecimal.h"

namespace {

TEST(CommandLine, NamesOnePathQuotedOrNot) {
  struct Case {
    const wchar_t* line;
    const wchar_t* path;
  };
  const Case cases[] = {
      {L"\"C:\\flights\\my flight.ulk\"", L"C:\\flights\\my flight.ulk"},
      {L"C:\\flights\\a.ulk", L"C:\\flights\\a.ulk"},
      {L"  \"C:\\a.ulk\"  ", L"C:\\a.ulk"},
      {L"\"C:\\a.ulk", L"\"C:\\a.ulk"},
      {L"\"\"", L""},
      {L"", L""},
      {L"   ", L""},
      {L"x", L"x"},
  };
  for (const Case& c : cases) EXPECT_EQ(DataSetPathFromCommandLine(c.line), c.path) << c.line;
}

TEST(CommandLine, OnlyTheFirst2048CharactersCount) {
  std::wstring line = L"\"" + std::wstring(3000, L'a') + L"\"";
  EXPECT_EQ(DataSetPathFromCommandLine(line), L"\"" + std::wstring(2047, L'a'));
}

TEST(ToWideDecimal, SignedValues) {
  EXPECT_EQ(ToWideDecimal(0), L"0");
  EXPECT_EQ(ToWideDecimal(1520), L"1520");
  EXPECT_EQ(ToWideDecimal(-1), L"-1");
  EXPECT_EQ(ToWideDecimal(INT32_MIN), L"-2147483648");
}

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
