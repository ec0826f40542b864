#include "app/CommandLine.h"

std::wstring DataSetPathFromCommandLine(const std::wstring& commandLine) {
  std::wstring text = commandLine.substr(0, kCommandLineLimit);
  const wchar_t* blanks = L" \t\r\n";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::wstring::npos) return std::wstring();
  size_t last = text.find_last_not_of(blanks);
  text = text.substr(first, last - first + 1);
  // Only a matching pair is a quoting; a lone quote belongs to the text.
  if (text.size() >= 2 && text.front() == L'"' && text.back() == L'"') text = text.substr(1, text.size() - 2);
  return text;
}
