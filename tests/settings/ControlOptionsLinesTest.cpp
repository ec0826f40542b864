#include "settings/ControlOptionsLines.h"

#include <gtest/gtest.h>

TEST(ControlOptionsLinesTest, ReadingsInTheStreamsDefaultFormat) {
  // The metres as the device's tenths arrive: a float times 0.1.
  auto metres = [](int32_t tenths) { return static_cast<float>(tenths) * 0.1f; };
  const std::pair<float, const wchar_t*> altitudes[] = {
      {metres(2876), L"Current MSL Altitude: 287.6 m / 943.57 ft. \r\n"},
      {metres(10000), L"Current MSL Altitude: 1000 m / 3280.84 ft. \r\n"},
      {metres(-1000), L"Current MSL Altitude: -100 m / -328.084 ft. \r\n"},
      {metres(0), L"Current MSL Altitude: 0 m / 0 ft. \r\n"},
      // Past six digits the stream turns to exponents.
      {metres(47185920), L"Current MSL Altitude: 4.71859e+06 m / 1.54809e+07 ft. \r\n"},
  };
  for (const auto& [m, line] : altitudes) EXPECT_EQ(AltitudeLine(m), line) << m;

  const std::pair<uint16_t, const wchar_t*> voltages[] = {
      {120, L"Current Voltage: 12 Volts\r\n"},
      {93, L"Current Voltage: 9.3 Volts\r\n"},
      {0, L"Current Voltage: 0 Volts\r\n"},
      {65535, L"Current Voltage: 6553.5 Volts\r\n"},
  };
  for (const auto& [tenths, line] : voltages) EXPECT_EQ(VoltageLine(tenths), line) << tenths;
}

TEST(ControlOptionsLinesTest, EachEventCodeHasItsLineAndOthersNone) {
  struct Case {
    uint16_t code;
    int32_t requests;
    const wchar_t* line;
  };
  const Case cases[] = {
      {15, 0, L"Launch Time (s): 0\r\n"},
      {15, 30, L"Launch Time (s): 3\r\n"},
      {15, 1234, L"Launch Time (s): 123.4\r\n"},
      {16, 150, L"Launch detected.\r\n"},
      {17, 150, L"Line A fired.\r\n"},
      {18, 150, L"Line B fired.\r\n"},
      {19, 150, L"Apogee detected.\r\n"},
      {21, 150, L"Device indicates end of launch.\r\n"},
      {0, 0, L""},
      {5, 0, L""},
      {20, 40, L""},
      {22, 0, L""},
      {0xFFFF, 0, L""},
  };
  for (const Case& c : cases) EXPECT_EQ(EmulationEventLine(c.code, c.requests), c.line) << c.code;
}
