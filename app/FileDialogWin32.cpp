#include "app/FileDialog.h"

#include <mutex>
#include <utility>

namespace {

std::mutex& SeamMutex() {
  static std::mutex mutex;
  return mutex;
}

FileDialogSeam& Seam() {
  static FileDialogSeam seam;
  return seam;
}

}  // namespace

bool ShowFileDialog(OPENFILENAMEW& request, bool save) {
  FileDialogSeam seam;
  {
    std::lock_guard<std::mutex> lock(SeamMutex());
    seam = Seam();
  }
  if (seam) return seam(request, save);
  return (save ? GetSaveFileNameW(&request) : GetOpenFileNameW(&request)) != FALSE;
}

FileDialogSeam SetFileDialogSeam(FileDialogSeam seam) {
  std::lock_guard<std::mutex> lock(SeamMutex());
  std::swap(Seam(), seam);
  return seam;
}
