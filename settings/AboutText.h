// What the About box says, as the pieces it appends to its status box.
#pragma once

#include <string>
#include <vector>

std::vector<std::wstring> AboutTextPieces();
