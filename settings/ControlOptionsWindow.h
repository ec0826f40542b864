// The "Control Options" dialog: reads the device's altitude and battery,
// fires both lines, and emulates a launch on the flight that is loaded. Each
// action is a worker; the dialog only shows what the device link reports.
#pragma once

#include "app/DialogWindow.h"

class CControlOptionsWindow : public CStatusDialog, public ShowEmulationEvent {
 public:
  // The altimeter is the program's one object; tests give their own.
  explicit CControlOptionsWindow(CAltimeter& altimeter = Altimeter());
  ~CControlOptionsWindow() override;

  INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
  void RefreshConnectionLook(bool busy) override;
  bool BeforeCloseWait() override;

  // On the emulation's worker: one status line per event shown.
  void OnEmulationEvent(uint8_t code, int requestCount) override;

  void ReadAltitudeTask();
  void ReadVoltageTask();
  void FireLinesTask();
  void EmulateLaunchTask();

 private:
  void OnInitDialog();
  void OnCommand(WPARAM command);
  // The altitude read after the device was found; true when a reading was shown.
  bool ReadAltitudeSteps();
};
