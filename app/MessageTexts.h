// A message's words by its string id, for code that shows them without the
// string table of the program's resources (ulktool, tests).
#pragma once

#include <cstdint>
#include <string>

// Empty for an id the table does not hold.
std::wstring MessageText(uint32_t stringId);
