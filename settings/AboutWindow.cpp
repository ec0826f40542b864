#include "settings/AboutWindow.h"

#include "settings/AboutText.h"
#include "resources/resource.h"

CAboutWindow::CAboutWindow() : CStatusDialog(IDD_ABOUT) {}

void CAboutWindow::ComposeAboutText() {
  for (const std::wstring& piece : AboutTextPieces()) AppendStatus(piece);
}

INT_PTR CAboutWindow::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  PassToLayout(message, wParam, lParam);
  INT_PTR result = FALSE;
  switch (message) {
    case WM_INITDIALOG:
      MakeLayout();
      Anchor(IDC_AB_BANNER, {true, true, true, true});
      Anchor(IDC_STATUS_BOX, {true, true, true, true});
      Anchor(IDC_CLOSE, {false, false, true, true});
      AnchorGroupBox(IDC_AB_ABOUT_GROUP, {true, true, true, true});
      ComposeAboutText();
      return TRUE;
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) {
        SendMessageW(window, WM_CLOSE, 0, 0);
        return TRUE;
      }
      break;
    case WM_COMMAND:
      // Escape reaches a dialog as IDCANCEL from the dialog manager.
      if (wParam == IDC_CLOSE || LOWORD(wParam) == IDCANCEL) {
        SendMessageW(window, WM_CLOSE, 0, 0);
        return TRUE;
      }
      break;
    case WM_CLOSE:
      // No worker: it ends at once.
      EndDialog(window, 0);
      return TRUE;
    default:
      if (HandleStatusMessage(message, wParam, lParam, result)) return result;
      break;
  }
  return HandleSkinMessage(window, message, wParam, lParam);
}
