// The checks of a firmware file that an update makes before it sends anything
// to the device, for callers that must know before they touch the device.
#pragma once

#include <string>

#include "firmware/FirmwareFile.h"
#include "firmware/UpdateMessages.h"

// Reads the file into image and answers UpdateOk when an update would go on to
// the device with it; otherwise the result UpdateFirmware answers for it, with
// the versions it would have set (the others stay as they were).
UpdateResult CheckFirmwareFile(const std::wstring& path, FirmwareImage& image, UpdateVersions& versions);
