// What the user is told about a firmware update: the status lines of each
// result and the progress percentage. Shared by the update dialog and ulktool.
#pragma once

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
