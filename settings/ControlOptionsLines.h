// The status lines of the "Control Options" dialog that carry a reading or a
// launch emulation event. Numbers are written as a fresh wide stream writes
// them: six significant digits, no trailing zeros.
#pragma once

#include <cstdint>
#include <string>

// "Current MSL Altitude: " metres " m / " feet " ft. \r\n"; the feet are worked
// out in single precision, as the metres arrive.
std::wstring AltitudeLine(float metres);

// "Current Voltage: " volts " Volts\r\n" from the device's tenths of a volt.
std::wstring VoltageLine(uint16_t tenths);

// The line an emulation event adds to the status box, or nothing for a code
// the dialog does not show. requestCount is the sample requests served so
// far, ten to a second of flight.
std::wstring EmulationEventLine(uint16_t code, int32_t requestCount);
