// What the "Download Data" dialog decides without a window: the strip's
// colours and click arithmetic, its button table, where the CSV beside a saved
// data set goes, and how a typed comment is kept.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "flightdata/FlightData.h"

// One strip column per packet the flight memory can hold.
constexpr int kStripColumns = kMaxFlashPackets;

constexpr uint32_t kStripBlack = 0xFF000000;
constexpr uint32_t kStripSelected = 0xFFFF0000;
constexpr uint32_t kStripOddBlue = 0xFF4020FF;   // sets 0, 2, 4, ...
constexpr uint32_t kStripEvenBlue = 0xFF4060DF;  // sets 1, 3, 5, ...

using StripColumns = std::array<uint32_t, kStripColumns>;

// The ARGB colour of each column: black beyond the image, red for the selected
// set, else the set's blue (the two blues alternate from set to set).
void DrawStripColumns(const std::vector<CFlashPacket>& packets, int32_t selectedSet, StripColumns& columns);

// The packet under a click at x on a strip whose image is drawn (client width
// + 2) pixels wide; may lie beyond the image.
int32_t StripPacketAt(uint32_t x, int32_t clientWidth);

// The CSV beside a data set file: its ".ulk" extension in any letter case
// becomes ".csv"; a name without that extension gets ".csv" appended. Never
// the data set file's own path.
std::wstring CsvPathBeside(const std::wstring& dataSetPath);

// Enabled states of the dialog's controls. busy: a worker runs; connected:
// the channel is open; image: the memory image holds a packet; valid: the
// selected set exists.
struct CaptureLook {
  bool readData = false;
  bool clearDevice = false;
  bool liveUpdate = false;
  bool selectAndClose = false;
  bool saveSelected = false;
  bool saveComment = false;
  bool comment = false;
  bool saveAll = false;
  bool operator==(const CaptureLook&) const = default;
};
CaptureLook CaptureButtonStates(bool busy, bool connected, bool image, bool valid);

// "Save Comment": the text becomes the set's comment. A list too short for
// the set (a failed load leaves it empty) is extended, so nothing typed is
// lost. False, and nothing changes, for a negative set.
bool StoreComment(std::vector<std::string>& comments, int32_t set, const std::string& text);
