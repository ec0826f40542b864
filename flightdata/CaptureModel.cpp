#include "flightdata/CaptureModel.h"

#include <algorithm>
#include <cwctype>

void DrawStripColumns(const std::vector<CFlashPacket>& packets, int32_t selectedSet, StripColumns& columns) {
  columns.fill(kStripBlack);
  int32_t set = -1;
  bool odd = false;
  const size_t n = std::min(packets.size(), columns.size());
  for (size_t i = 0; i < n; ++i) {
    if (packets[i].type == kSetStartType) {
      ++set;
      odd = !odd;
    }
    if (set == selectedSet)
      columns[i] = kStripSelected;
    else
      columns[i] = odd ? kStripOddBlue : kStripEvenBlue;
  }
}

int32_t StripPacketAt(uint32_t x, int32_t clientWidth) {
  const float scale = static_cast<float>(clientWidth + 2) / static_cast<float>(kStripColumns);
  if (!(scale > 0.0f)) return 0;
  return static_cast<int32_t>(static_cast<float>(x) / scale + 0.5);
}

std::wstring CsvPathBeside(const std::wstring& dataSetPath) {
  static const std::wstring kExtension = L".ulk";
  const size_t name = dataSetPath.find_last_of(L"\\/");
  const size_t dot =
      dataSetPath.size() >= kExtension.size() ? dataSetPath.size() - kExtension.size() : std::wstring::npos;
  bool ulk = dot != std::wstring::npos && (name == std::wstring::npos || dot > name);
  for (size_t i = 0; ulk && i < kExtension.size(); ++i)
    ulk = std::towlower(static_cast<wint_t>(dataSetPath[dot + i])) == static_cast<wint_t>(kExtension[i]);
  if (ulk) return dataSetPath.substr(0, dot) + L".csv";
  return dataSetPath + L".csv";
}

CaptureLook CaptureButtonStates(bool busy, bool connected, bool image, bool valid) {
  CaptureLook look;
  look.readData = connected && !busy;
  look.clearDevice = connected && !busy;
  look.liveUpdate = !busy;
  look.selectAndClose = !busy && image;
  look.saveSelected = !busy && image && valid;
  look.saveComment = !busy && image && valid;
  look.comment = !busy && image && valid;
  look.saveAll = !busy && image;
  return look;
}

bool StoreComment(std::vector<std::string>& comments, int32_t set, const std::string& text) {
  if (set < 0) return false;
  if (comments.size() <= static_cast<size_t>(set)) comments.resize(static_cast<size_t>(set) + 1);
  comments[static_cast<size_t>(set)] = text;
  return true;
}
