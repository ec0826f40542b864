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
#include "settings/SettingsTasks.h"

class CChipLoadWindow : public CStatusDialog {
 public:
  explicit CChipLoadWindow(CAltimeter& altimeter = Altimeter());
  ~CChipLoadWindow() override;

  void OnInitDialog() override;
  void OnCommand(WPARAM command) override;
  bool WaitsForWorker(int controlId) const override;
  void RunConnectRoutine() override;
  void RefreshConnectionLook(bool busy) override;
  const char* RepostTrace() const override;

  // --- the form, for the settings tasks on the worker

  // The record's working fields into the controls, then the enabling rules
  // of each line's checked radio.
  void ShowSettings(const SettingsRecord& record) override;
  bool ReadSettingsForm(SettingsControls& controls) override;
  // "Read Settings" alone is offered until the next task.
  void OfferRetry() override;

  // The approximate MSL ground altitude in metres, from field 1039 at the last
  // accepted press of "Calibrate Device".
  uint32_t groundAltitude = 0;

 private:
  void ReadWorker();
  void WriteWorker();
  void ResetWorker();
  void CalibrateWorker();
  // Starts a worker after the look went busy; the look follows again when it cannot start.
  void Start(void (CChipLoadWindow::*worker)());

  // The user's own change of a field or radio marks the form edited.
  void NoteEdit(WPARAM command);
  void FillForm(const SettingsRecord& record);
  std::wstring ControlText(int id) const;
  SettingsControls ReadControls() const;
  // Every number of the form fits its field; else that field's box is shown.
  bool FormFits();
  void SetLineEnabling(int timeId, int altitudeId, bool time, bool altitude);

  // The connect routine has asked for the automatic read, which has not started yet.
  std::atomic<bool> autoReadPending_{false};
  // The read under way is that automatic one, which the user did not ask for.
  std::atomic<bool> automaticRead_{false};
  // The user has changed the form since it last showed a record; the form is
  // being filled by the program (its own changes are not the user's).
  std::atomic<bool> formEdited_{false};
  std::atomic<bool> fillingForm_{false};
  // A read or write failed early: "Read Settings" alone is offered until the next task.
  std::atomic<bool> readOnly_{false};
};
