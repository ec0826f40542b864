// The "Control Options" dialog: reads the device's altitude and battery,
// fires both lines, and emulates a launch on the flight that is loaded. Each
// action is a worker running its task; the dialog holds only its windows.
#pragma once

#include "app/DialogWindow.h"

class CControlOptionsWindow : public CStatusDialog {
 public:
  // The altimeter is the program's one object; tests give their own.
  explicit CControlOptionsWindow(CAltimeter& altimeter = Altimeter());
  ~CControlOptionsWindow() override;

  void OnInitDialog() override;
  void OnCommand(WPARAM command) override;
  bool WaitsForWorker(int controlId) const override;
  bool OnOtherMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
  void RefreshConnectionLook(bool busy) override;
  bool BeforeCloseWait() override;

 private:
  void ReadAltitudeWorker();
  void ReadVoltageWorker();
  void FireLinesWorker();
  void EmulateLaunchWorker();
};
