// The memory image, the decoded flight, the live preview and the comments as
// the dialogs and ulktool reach them: each under the data lock that a
// download's worker holds while it writes them.
#include <mutex>

#include "device/Altimeter.h"
#include "flightdata/CaptureModel.h"

void CAltimeter::EmptyImage() {
  std::lock_guard<std::recursive_mutex> lock(dataLock);
  packets.clear();
}

void CAltimeter::ClearFlight() {
  std::lock_guard<std::recursive_mutex> lock(dataLock);
  flight.Clear();
}

void CAltimeter::ResetLivePreview() {
  std::lock_guard<std::recursive_mutex> lock(dataLock);
  livePreview.Reset();
}

size_t CAltimeter::ImagePacketCount() const {
  std::lock_guard<std::recursive_mutex> lock(dataLock);
  return packets.size();
}

bool CAltimeter::FlightDecoded() const {
  std::lock_guard<std::recursive_mutex> lock(dataLock);
  return !flight.altitudeMsl.empty();
}

void CAltimeter::DrawStripColumns(int32_t selectedSet, std::array<uint32_t, kMaxFlashPackets>& columns) const {
  std::lock_guard<std::recursive_mutex> lock(dataLock);
  ::DrawStripColumns(packets, selectedSet, columns);
}

bool CAltimeter::CommentOf(int32_t set, std::string& comment) const {
  std::lock_guard<std::recursive_mutex> lock(dataLock);
  if (set < 0 || static_cast<size_t>(set) >= comments.size()) return false;
  comment = comments[static_cast<size_t>(set)];
  return true;
}

bool CAltimeter::StoreCommentOf(int32_t set, const std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(dataLock);
  return StoreComment(comments, set, text);
}

LivePreview CAltimeter::LivePreviewNow() const {
  std::lock_guard<std::recursive_mutex> lock(dataLock);
  return livePreview;
}
