// The "Update Firmware" dialog: connects to the bootloader (sending an
// application firmware into it first), lets the user choose a firmware file and
// programs it on a worker, telling the progress and every failure. It cannot
// be closed while the update runs.
#pragma once

#include "app/DialogWindow.h"
#include "app/FileDialog.h"
#include "firmware/UpdateMessages.h"

class CUpdateWindow : public CStatusDialog, public UpdateProgress {
 public:
  // Tests give their own altimeter and progress lines; the program has one of each.
  explicit CUpdateWindow(CAltimeter& altimeter = Altimeter(),
                         UpdateProgressLines& progressLines = ProgramProgressLines());
  ~CUpdateWindow() override;

  INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
  void RunConnectRoutine() override;
  // No busy state of its own: busy only keeps the worker's disabled buttons so.
  void RefreshConnectionLook(bool busy) override;
  bool BeforeCloseWait() override;
  // On the worker: a line for each new ten per cent.
  void OnUpdateProgress(int blocksDone, int blocksInAll) override;

  // "Update...": the file chosen, then the worker.
  void StartUpdate();
  void UpdateTask();

  // The file that the user chose last.
  std::wstring firmwarePath;

 private:
  // fromWorker: the icon is left to the dialog thread, which may be waiting.
  void RefreshLook(bool busy, bool fromWorker);

  UpdateProgressLines& progressLines_;
  wchar_t fileName_[kFileNameLength] = {};
};
