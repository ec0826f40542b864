// The "Update Firmware" dialog: connects to the bootloader (sending an
// application firmware into it first), lets the user choose a firmware file and
// programs it on a worker, telling the progress and every failure. It cannot
// be closed while the update runs.
#pragma once

#include "app/DialogWindow.h"
#include "app/FileDialog.h"
#include "firmware/UpdateMessages.h"

class CUpdateWindow : public CStatusDialog {
 public:
  // Tests give their own altimeter and progress lines; the program has one of each.
  explicit CUpdateWindow(CAltimeter& altimeter = Altimeter(),
                         UpdateProgressLines& progressLines = ProgramProgressLines());
  ~CUpdateWindow() override;

  void OnInitDialog() override;
  void OnCommand(WPARAM command) override;
  bool WaitsForWorker(int controlId) const override;
  bool ClosesOnEscape() const override { return true; }
  void RunConnectRoutine() override;
  // No busy state of its own: busy only keeps the worker's disabled buttons so.
  void RefreshConnectionLook(bool busy) override;
  bool BeforeCloseWait() override;

  // "Update...": the file chosen, then the worker.
  void StartUpdate();

  // The file that the user chose last.
  std::wstring firmwarePath;

 private:
  void UpdateWorker();

  UpdateProgressLines& progressLines_;
  wchar_t fileName_[kFileNameLength] = {};
};
