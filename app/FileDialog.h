// The open and save file dialogs, behind one seam that tests answer.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <cstddef>
#include <functional>

// The length of every path buffer a file dialog fills, terminator included.
constexpr size_t kFileNameLength = 2048;

// GetSaveFileNameW when save, else GetOpenFileNameW, or the seam in their
// place. True when the user chose a file.
bool ShowFileDialog(OPENFILENAMEW& request, bool save);

// What shows the open and save dialogs: by default GetOpenFileNameW and
// GetSaveFileNameW. Tests put their own in place to see the request (title,
// filter, default extension, flags) and answer a path. Answers the old one.
using FileDialogSeam = std::function<bool(OPENFILENAMEW& request, bool save)>;
FileDialogSeam SetFileDialogSeam(FileDialogSeam seam);
