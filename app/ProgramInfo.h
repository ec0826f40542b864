// Texts that name the program in its window titles, message boxes and About box.
#pragma once

#include "ProgramVersion.h"

// The title of the main window and of every message box.
inline constexpr const wchar_t* kProgramTitle = L"ULK USB " ULKUSB_VERSION_TEXT;
// Where users look for updates; the About box's first line names it.
inline constexpr const wchar_t* kProductPage = L"https://ulkusb.example.org/";
