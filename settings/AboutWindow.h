// The "About" dialog: the banner and where to find updates, with the versions
// this software is made for. It never talks to the device.
#pragma once

#include "app/DialogWindow.h"

class CAboutWindow : public CStatusDialog {
 public:
  CAboutWindow();
  // A close ends it at once: it has no worker to wait for.
  INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnInitDialog() override;
  void OnCommand(WPARAM command) override;
  bool ClosesOnEscape() const override { return true; }
  void ComposeAboutText();
};
