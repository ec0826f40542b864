// Message boxes with texts from the string table.
#include <mutex>

#include "app/DialogWindow.h"
#include "app/ProgramInfo.h"

namespace {

std::mutex& SeamMutex() {
  static std::mutex mutex;
  return mutex;
}

MessageSeam& Seam() {
  static MessageSeam seam;
  return seam;
}

}  // namespace

MessageSeam SetMessageSeam(MessageSeam seam) {
  std::lock_guard<std::mutex> lock(SeamMutex());
  std::swap(Seam(), seam);
  return seam;
}

int ShowMessage(HWND owner, UINT stringId, UINT style) {
  wchar_t text[256] = {};
  if (LoadStringW(GetModuleHandleW(nullptr), stringId, text, 256) <= 0) text[0] = L'\0';
  MessageSeam seam;
  {
    std::lock_guard<std::mutex> lock(SeamMutex());
    seam = Seam();
  }
  if (seam) return seam(owner, stringId, text, style);
  return MessageBoxW(owner, text, kProgramTitle, style);
}
