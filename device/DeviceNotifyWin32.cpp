// The Windows side of a dialog's connection look: the icon control shows
// icon 110 while the channel is open and icon 109 while it is closed.
#include <windows.h>

#include "device/ConnectionRoutines.h"
#include "resources/resource.h"

namespace {

// Loaded once at the size the dialogs show and kept for the run, so a look
// refreshed after every event costs no new handles.
class ConnectionIcons {
 public:
  ConnectionIcons()
      : connected_(Load(IDI_CONNECTED)), notConnected_(Load(IDI_NOT_CONNECTED)) {}
  ~ConnectionIcons() {
    if (connected_) DestroyIcon(connected_);
    if (notConnected_) DestroyIcon(notConnected_);
  }
  ConnectionIcons(const ConnectionIcons&) = delete;
  ConnectionIcons& operator=(const ConnectionIcons&) = delete;

  HICON For(int iconId) const { return iconId == IDI_CONNECTED ? connected_ : notConnected_; }

 private:
  static HICON Load(int id) {
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON,
                                         CONNECTION_ICON_SIZE, CONNECTION_ICON_SIZE, 0));
  }
  HICON connected_;
  HICON notConnected_;
};

}  // namespace

void ShowConnectionIcon(HWND__* iconControl, int iconId, bool post) {
  static const ConnectionIcons icons;
  HICON icon = icons.For(iconId);
  if (!iconControl || !icon) return;
  const LPARAM image = reinterpret_cast<LPARAM>(icon);
  if (post) {
    PostMessageW(iconControl, STM_SETIMAGE, IMAGE_ICON, image);
  } else {
    SendMessageW(iconControl, STM_SETIMAGE, IMAGE_ICON, image);
  }
}
