#include "flightdata/DownloadTasks.h"

#include "app/ToWideDecimal.h"
#include "device/TraceLog.h"

namespace {

// ReadFlightMemory's reports: the line and trace of each stored packet, the
// live preview reset at each set's start, and the front end's pictures.
class DownloadProgress : public PacketProgress {
 public:
  DownloadProgress(CAltimeter& altimeter, TaskHost& host, DownloadView& view)
      : altimeter_(altimeter), host_(host), view_(view) {}
  void OnPacketProgress(int packetIndex, bool partial, bool setStart) override {
    if (setStart) {
      altimeter_.ResetLivePreview();
      return;
    }
    if (!partial) {
      host_.AppendProgress(L"Packet Read: " + ToWideDecimal(packetIndex) + L"\r\n");
      view_.ShowPacket(packetIndex);
      TraceLog << "Read Packet @ Address: " << packetIndex << std::endl;
      return;
    }
    view_.ShowLivePreview(packetIndex);
  }

 private:
  CAltimeter& altimeter_;
  TaskHost& host_;
  DownloadView& view_;
};

void EmptyImage(CAltimeter& altimeter, DownloadView& view) {
  altimeter.EmptyImage();
  view.ShowImage();
}

}  // namespace

DownloadOutcome DownloadTask(CAltimeter& altimeter, TaskHost& host, DownloadView& view) {
  host.ShowBusy(true);
  EmptyImage(altimeter, view);
  host.AppendStatus(L"Attempting to connect to device.\r\n");
  if (!altimeter.IsOpen()) {
    host.OfferRetry();
    host.AppendStatus(kAltimeterNotFoundLine);
    return DownloadOutcome::NotConnected;
  }
  host.AppendStatus(L"Altimeter found! Reading settings...\r\n");
  if (altimeter.ReadSettings() < 0) {
    host.OfferRetry();
    host.AppendStatus(L"Failed to read settings.\r\n");
    return DownloadOutcome::Failed;
  }
  host.AppendStatus(L"Settings read successfully.\r\n");
  host.AppendStatus(L"Reading data...\r\n");
  DownloadProgress progress(altimeter, host, view);
  const CommandResult result = altimeter.ReadFlightMemory(&progress);
  if (result < 0) {
    if (result == Cancelled) {
      EmptyImage(altimeter, view);
      altimeter.ClearFlight();
      altimeter.ResetLivePreview();
    } else {
      host.OfferRetry();
    }
    host.AppendStatus(L"Failed to read data.\r\n");
    return result == Cancelled ? DownloadOutcome::Cancelled : DownloadOutcome::Failed;
  }
  const size_t count = altimeter.ImagePacketCount();
  TraceLog << "Packets read: " << count << std::endl;
  host.AppendStatus(L"Data read successfully.\r\n");
  WaitOnHostClock(100);
  host.AppendResult(L"Packets Read: " + ToWideDecimal(static_cast<int32_t>(count)) + L"\r\n");
  if (count == 0) {
    altimeter.ResetLivePreview();
    host.RequestRedraw();
  }
  host.ShowBusy(false);
  return DownloadOutcome::Done;
}

ClearOutcome ClearTask(CAltimeter& altimeter, TaskHost& host, DownloadView& view) {
  if (!altimeter.IsOpen()) {
    host.ShowBusy(false);
    host.AppendStatus(kAltimeterNotFoundLine);
    return ClearOutcome::NotConnected;
  }
  host.AppendStatus(L"Clearing data... please wait a few seconds.\r\n");
  if (altimeter.ClearMemory() < 0) {
    host.ShowBusy(false);
    host.AppendStatus(L"Failed to clear data.\r\n");
    return ClearOutcome::Failed;
  }
  // The decoded series of the main window's plot stay.
  EmptyImage(altimeter, view);
  host.AppendResult(L"Data cleared successfully.\r\n");
  host.ShowBusy(false);
  return ClearOutcome::Done;
}
