#include "settings/ControlOptionsLines.h"

#include <sstream>

#include "device/Altimeter.h"

namespace {

template <class Number>
std::wstring Wide(Number value) {
  std::wostringstream text;
  text << value;
  return text.str();
}

}  // namespace

std::wstring AltitudeLine(float metres) {
  const float feet = metres / 0.3048f;
  return L"Current MSL Altitude: " + Wide(metres) + L" m / " + Wide(feet) + L" ft. \r\n";
}

std::wstring VoltageLine(uint16_t tenths) { return L"Current Voltage: " + Wide(tenths / 10.0) + L" Volts\r\n"; }

std::wstring EmulationEventLine(uint16_t code, int32_t requestCount) {
  switch (code) {
    case static_cast<uint16_t>(ReplyCode::SampleRequest):
      return L"Launch Time (s): " + Wide(requestCount / 10.0) + L"\r\n";
    case static_cast<uint16_t>(ReplyCode::LaunchDetected):
      return L"Launch detected.\r\n";
    case static_cast<uint16_t>(ReplyCode::LineAFired):
      return L"Line A fired.\r\n";
    case static_cast<uint16_t>(ReplyCode::LineBFired):
      return L"Line B fired.\r\n";
    case static_cast<uint16_t>(ReplyCode::ApogeeDetected):
      return L"Apogee detected.\r\n";
    case static_cast<uint16_t>(ReplyCode::EndOfLaunch):
      return L"Device indicates end of launch.\r\n";
    default:
      return std::wstring();
  }
}
