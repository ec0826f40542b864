// Wide text (the program's own) to and from UTF-8 (file names on POSIX,
// terminals, Cairo). Surrogate pairs of a 16-bit wchar_t are joined; what
// cannot be a character becomes U+FFFD.
#pragma once

#include <filesystem>
#include <string>

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// A wide file name as the file system's path: native on Windows, UTF-8 bytes
// elsewhere. Never throws, whatever the locale (the C locale converts no
// character outside ASCII).
std::filesystem::path FilePath(const std::wstring& name);
// And back, for a path made from narrow text on POSIX.
std::wstring WideName(const std::filesystem::path& path);
