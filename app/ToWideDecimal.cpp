#include "app/ToWideDecimal.h"

std::wstring ToWideDecimal(int32_t value) { return std::to_wstring(value); }
