#include <gtest/gtest.h>

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

}  // namespace
