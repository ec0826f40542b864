// The program's command line is one optional data set file path, as a file
// association passes it (in double quotes) or as a user types it.
#pragma once

#include <string>

// The path named by the command line: surrounding blanks dropped, then one pair
// of surrounding double quotes when both are there. Empty when nothing is named.
std::wstring DataSetPathFromCommandLine(const std::wstring& commandLine);

// The first 2,048 characters at most, as the entry converts them.
constexpr size_t kCommandLineLimit = 2048;
