// The operation of "Update Firmware" and ulktool update: a firmware file
// programmed through the bootloader, its progress and every failure told.
// Written once for both; lines and looks go through the TaskHost.
#pragma once

#include <string>

#include "device/Altimeter.h"
#include "device/TaskHost.h"
#include "firmware/UpdateMessages.h"

// Draws the progress where a front end has its own picture of it (ulktool's
// bar); the percentage lines go to the host either way.
class UpdateView {
 public:
  virtual ~UpdateView() = default;
  virtual void ShowProgress(int /*blocksDone*/, int /*blocksInAll*/) {}
};

// Programs the file at path on the bootloader the channel is open to. Answers
// what UpdateFirmware answered, or UpdateChannelNotOpened when the channel is
// not open; "Failed to update firmware." closes every failure.
UpdateResult UpdateFirmwareTask(CAltimeter& altimeter, TaskHost& host, const std::wstring& path,
                                UpdateProgressLines& progressLines, UpdateView* view = nullptr);
