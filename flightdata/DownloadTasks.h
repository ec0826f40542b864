// The operations of "Download Data" and ulktool download / clear: the whole
// flight memory into the memory image, and the device's memory erased. Each
// step in its order, written once for both; lines and looks go through the
// TaskHost, the pictures of the download through the front end's view.
#pragma once

#include "device/Altimeter.h"
#include "device/TaskHost.h"

// What a front end draws while a download runs, on the download's worker.
class DownloadView {
 public:
  virtual ~DownloadView() = default;
  // The memory image changed as a whole (emptied).
  virtual void ShowImage() {}
  // Packet packetIndex has been stored.
  virtual void ShowPacket(int /*packetIndex*/) {}
  // A part of packet packetIndex has arrived: the live preview may have grown.
  virtual void ShowLivePreview(int /*packetIndex*/) {}
};

enum class DownloadOutcome {
  Done,          // the memory image holds the device's flight memory (perhaps no packet)
  NotConnected,  // the channel is not open
  Failed,        // the settings or the memory could not be read; its line says which
  Cancelled,     // cancelRequested ended it: the image and the decoded series are emptied
};

// "Read Data": the settings first (the saved files carry them), then the
// flight memory packet by packet, a "Packet Read: N" line for each.
DownloadOutcome DownloadTask(CAltimeter& altimeter, TaskHost& host, DownloadView& view);

enum class ClearOutcome { Done, NotConnected, Failed };

// "Clear Device", once the user has said Yes: the device's flight memory is
// erased and the memory image emptied (the decoded series stay).
ClearOutcome ClearTask(CAltimeter& altimeter, TaskHost& host, DownloadView& view);
