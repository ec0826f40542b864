// What the user is told about a firmware update: the status lines of each
// result and the progress percentage. Shared by the update dialog and ulktool.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "device/Altimeter.h"

// The four version outputs of UpdateFirmware.
struct UpdateVersions {
  uint16_t formatVersion = 0;
  uint16_t hardwareVersion = 0;
  uint16_t requiredBootloaderVersion = 0;
  uint16_t firmwareVersion = 0;
};

// The lines told for result, each without its line end, in order: on success
// the new version and "Firmware updated successfully."; on failure the lines
// that explain it (none for a channel that did not open). The closing
// "Failed to update firmware." is the caller's, after its connection look.
std::vector<std::wstring> UpdateResultLines(UpdateResult result, const UpdateVersions& versions);

extern const wchar_t* const kUpdateFailed;  // "Failed to update firmware."

// Percentage of a progress report: 100 when there are no blocks to go through.
int UpdatePercentage(int blocksDone, int blocksInAll);

// The progress lines of an update. Each report's percentage goes to the trace;
// a line of its multiple of ten ("40%") is told only when that multiple differs
// from the last one told. The last multiple outlives an update, so a second
// update in the same run of the program starts with "0%".
class UpdateProgressLines {
 public:
  // The line to tell for a report, without its line end; empty when none.
  std::wstring OnProgress(int blocksDone, int blocksInAll);

 private:
  std::atomic<int> lastTens_{0};
};

// The program's one, kept for its whole run.
UpdateProgressLines& ProgramProgressLines();
