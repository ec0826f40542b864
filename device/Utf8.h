// Wide text (the program's own) to and from UTF-8 (file names on POSIX,
// terminals, Cairo). Surrogate pairs of a 16-bit wchar_t are joined; what
// cannot be a character becomes U+FFFD.
#pragma once

#include <string>

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
