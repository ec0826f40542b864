#include "firmware/UpdateTask.h"

#include "device/TraceLog.h"
#include "device/Utf8.h"

namespace {

// UpdateFirmware's reports: a line for each new ten per cent, and the front
// end's own picture.
class UpdateLines : public UpdateProgress {
 public:
  UpdateLines(TaskHost& host, UpdateProgressLines& lines, UpdateView* view) : host_(host), lines_(lines), view_(view) {}
  void OnUpdateProgress(int blocksDone, int blocksInAll) override {
    const std::wstring line = lines_.OnProgress(blocksDone, blocksInAll);
    if (!line.empty()) host_.AppendProgress(line + L"\r\n");
    if (view_) view_->ShowProgress(blocksDone, blocksInAll);
  }

 private:
  TaskHost& host_;
  UpdateProgressLines& lines_;
  UpdateView* view_;
};

}  // namespace

UpdateResult UpdateFirmwareTask(CAltimeter& altimeter, TaskHost& host, const std::wstring& path,
                                UpdateProgressLines& progressLines, UpdateView* view) {
  TraceLog << "Firmware file: " << NarrowText(path) << std::endl;
  if (!altimeter.IsOpen()) {
    host.ShowBusy(false);
    host.AppendStatus(kAltimeterNotFoundLine);
    return UpdateChannelNotOpened;
  }
  host.AppendStatus(L"Updating firmware...\r\n");
  UpdateVersions versions;
  UpdateLines progress(host, progressLines, view);
  const UpdateResult result =
      altimeter.UpdateFirmware(&progress, path, versions.formatVersion, versions.hardwareVersion,
                               versions.requiredBootloaderVersion, versions.firmwareVersion);
  for (const std::wstring& line : UpdateResultLines(result, versions)) {
    if (result == UpdateOk) {
      host.AppendResult(line + L"\r\n");
    } else {
      host.AppendStatus(line + L"\r\n");
    }
  }
  host.ShowBusy(false);
  if (result != UpdateOk) host.AppendStatus(std::wstring(kUpdateFailed) + L"\r\n");
  return result;
}
