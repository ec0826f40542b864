// Integer to decimal wide text, for status lines such as counts.
#pragma once

#include <cstdint>
#include <string>

std::wstring ToWideDecimal(int32_t value);
