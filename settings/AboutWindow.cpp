#include "settings/AboutWindow.h"

#include "settings/AboutText.h"
#include "resources/resource.h"

CAboutWindow::CAboutWindow() : CStatusDialog(IDD_ABOUT) {}

void CAboutWindow::ComposeAboutText() {
  for (const std::wstring& piece : AboutTextPieces()) AppendStatus(piece);
}

INT_PTR CAboutWindow::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_CLOSE) return CStatusDialog::HandleMessage(window, message, wParam, lParam);
  EndDialog(window, 0);
  return TRUE;
}

void CAboutWindow::OnInitDialog() {
  MakeLayout();
  Anchor(IDC_AB_BANNER, {true, true, true, true});
  Anchor(IDC_STATUS_BOX, {true, true, true, true});
  Anchor(IDC_CLOSE, {false, false, true, true});
  AnchorGroupBox(IDC_AB_ABOUT_GROUP, {true, true, true, true});
  ComposeAboutText();
}

void CAboutWindow::OnCommand(WPARAM command) {
  // Escape reaches a dialog as IDCANCEL from the dialog manager.
  if (command == IDC_CLOSE || LOWORD(command) == IDCANCEL) SendMessageW(hwnd, WM_CLOSE, 0, 0);
}
