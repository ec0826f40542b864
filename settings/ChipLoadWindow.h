// "Program Chip": the device's settings as radio buttons and number fields,
// read from the device, written back, reset to the device's defaults, and the
// altitude calibrated against a ground altitude the user types. Every device
// task runs on the dialog's one worker; the form mapping is SettingsForm's.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "app/DialogWindow.h"
#include "settings/SettingsForm.h"

class CChipLoadWindow : public CStatusDialog {
 public:
  explicit CChipLoadWindow(CAltimeter& altimeter = Altimeter());
  ~CChipLoadWindow() override;

  INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
  void RunConnectRoutine() override;
  void RefreshConnectionLook(bool busy) override;
  const char* RepostTrace() const override;

  // The record's working fields into the controls, then the enabling rules
  // of each line's checked radio.
  void ShowSettings();
  // The controls into the working fields, then the two warnings. False, with
  // the field's error box and the record untouched, when a number is missing
  // or does not fit.
  bool CollectSettings();

  // How a write ended; a No to the question is not a write.
  enum class WriteOutcome { Written, Declined, Failed };

  // The tasks, on the worker; the others run ReadSettingsTask and
  // WriteSettingsTask as steps.
  bool ReadSettingsTask();
  WriteOutcome WriteSettingsTask();
  void ResetSettingsTask();
  void CalibrateTask();

  // The approximate MSL ground altitude in metres, from field 1039 at the last
  // accepted press of "Calibrate Device".
  uint32_t groundAltitude = 0;

 private:
  void OnInitDialog();
  void OnCommand(WPARAM command);
  void ReadWorker();
  void WriteWorker();

  std::wstring ControlText(int id) const;
  SettingsControls ReadControls() const;
  // Every number of the form fits its field; else that field's box is shown.
  bool FormFits();
  void ClearFlightData();
  void EnableReadButton();
  void SetLineEnabling(int timeId, int altitudeId, bool time, bool altitude);

  // The connect routine has asked for the automatic read, which has not started yet.
  std::atomic<bool> autoReadPending_{false};
  // A read or write failed early: "Read Settings" alone is offered until the next task.
  std::atomic<bool> readOnly_{false};
};
