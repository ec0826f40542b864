// The one device-and-data object of the program: the channel to the flight
// computer, its settings record, the memory image and decoded flight, and the
// plot frame. Each subsystem's .cpp defines the operations its part owns.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <istream>
#include <ostream>
#include <mutex>
#include <string>
#include <vector>

#include "device/HidDevice.h"
#include "flightdata/FlightData.h"
#include "plot/PlotFrame.h"
#include "settings/SettingsRecord.h"

class PlotCanvas;
struct PlotPen;

enum ConnectResult : int {
  Connected = 1,
  NotFound = -1,
  CannotOpen = -2,
  IncompatibleVersion = -3,
};

constexpr uint16_t kRequiredVersion = 0x0400;
constexpr uint16_t kVersionMask = 0xFFF0;

// Byte 3 of a command report. Scoped: several names are also operations or line modes.
enum class CommandCode : uint8_t {
  Reset = 1,
  ReadFlashPacket = 2,
  ReadAltitude = 3,
  StartEmulation = 4,
  ClearMemory = 6,
  ReadVoltage = 7,
  ReadSettings = 8,
  WriteSettings = 9,
  FireLines = 10,
  EnterBootloader = 11,
  ResetSettings = 12,
  EmulationSample = 22,
};

// Byte 3 of a reply report.
enum class ReplyCode : uint8_t {
  Data = 0,
  Completion = 5,
  FlashWord = 13,
  SampleRequest = 15,
  LaunchDetected = 16,
  LineAFired = 17,
  LineBFired = 18,
  ApogeeDetected = 19,
  EndOfLaunch = 21,
};

enum CommandResult : int {
  Ok = 0,
  TransferError = -1,
  Cancelled = -2,
  ProtocolError = -3,
  IoError = -5,
};

// Progress of a download, told on the worker thread (the download dialog, ulktool).
class PacketProgress {
 public:
  virtual ~PacketProgress() = default;
  virtual void OnPacketProgress(int packetIndex, bool partial, bool setStart) = 0;
};

// Events of a launch emulation, told on the worker thread.
class ShowEmulationEvent {
 public:
  virtual ~ShowEmulationEvent() = default;
  virtual void OnEmulationEvent(uint8_t code, int requestCount) = 0;
};

// Results of the bootloader operations; 0 is success.
enum UpdateResult : int {
  UpdateOk = 0,
  UpdateProtocolError = -3,        // an answer other than 1, or the firmware file ended early
  UpdateIoError = -4,              // a report write failed or its answer did not arrive in time
  UpdateFileNotOpened = -6,
  UpdateChannelNotOpened = -7,
  UpdateWrongFormatVersion = -8,
  UpdateNotFirmwareFile = -9,
  UpdateWrongBootloaderVersion = -11,
  UpdateWrongFirmwareVersion = -12,
  UpdateWrongHardwareVersion = -13,
  UpdateNotInBootloaderMode = -14,  // refused: nothing is sent to an application firmware
};

// Progress of a firmware update: called before each block.
class UpdateProgress {
 public:
  virtual ~UpdateProgress() = default;
  virtual void OnUpdateProgress(int blocksDone, int blocksInAll) = 0;
};

class CAltimeter : public CHidDevice {
 public:
  CAltimeter();
  ~CAltimeter();
  CAltimeter(const CAltimeter&) = delete;
  CAltimeter& operator=(const CAltimeter&) = delete;

  // --- connection handshake (device/Connect.cpp)
  ConnectResult Connect(uint16_t* version, bool bootloader);

  // --- command protocol (device/Commands.cpp)
  bool SendReset();
  CommandResult ReadSettings();
  CommandResult WriteSettings();
  CommandResult ClearMemory();
  CommandResult ResetSettings();
  CommandResult FireLines();
  CommandResult EnterBootloader();
  CommandResult ReadAltitude(float& altitude);
  CommandResult ReadVoltage(uint16_t& voltage);

  // --- flight memory download (device/ReadFlightMemory.cpp)
  CommandResult ReadFlightMemory(PacketProgress* dialog);

  // --- launch emulation (device/EmulateLaunch.cpp)
  bool EmulateLaunch(ShowEmulationEvent* dialog);

  // --- flight data model (flightdata/)
  int32_t CountDataSets() const;
  int32_t FirstPacketOfSet(int32_t set) const;
  uint16_t PacketCountOfSet(int32_t set) const;
  int32_t SetOfPacket(int32_t packetIndex) const;
  bool SelectDataSet(int32_t set);
  int32_t IndexOfMaximum(const std::vector<double>& series) const;

  // --- the memory image and its neighbours behind dataLock (flightdata/MemoryImage.cpp);
  // what a dialog or ulktool reads or changes of them goes through these.
  void EmptyImage();
  // The decoded series of the selected set are emptied (FlightData::Clear).
  void ClearFlight();
  void ResetLivePreview();
  size_t ImagePacketCount() const;
  bool FlightDecoded() const;
  // The strip of the download dialog: a colour per packet of the image.
  void DrawStripColumns(int32_t selectedSet, std::array<uint32_t, kMaxFlashPackets>& columns) const;
  // A set's comment; false when the list has none for it.
  bool CommentOf(int32_t set, std::string& comment) const;
  // "Save Comment": see StoreComment.
  bool StoreCommentOf(int32_t set, const std::string& text);
  LivePreview LivePreviewNow() const;

  // --- data set file and exports (flightdata/)
  bool SaveDataSet(const std::wstring& path, int32_t set);
  bool LoadDataSet(const std::wstring& path);
  // The file's bytes from and to streams; the path forms are shells over these.
  void WriteDataSet(std::ostream& out, int32_t set);
  bool LoadDataSet(std::istream& in);
  bool WriteCsv(int32_t set, const std::wstring& path);
  bool WriteXml(int32_t set, const std::wstring& path);
  // The exports' bytes into a stream; the path forms above are shells over these.
  void WriteCsv(int32_t set, std::ostream& out);
  void WriteXml(int32_t set, std::ostream& out);
  static std::string EscapeXml(const std::string& text);

  // --- plot (plot/)
  bool SelectPlotSet(int32_t set);
  int MapX(double seconds) const;
  int MapY(double value) const;
  void RenderPlot(PlotCanvas& canvas);
  void RenderLivePlot(PlotCanvas& canvas);
  void DrawSeries(PlotCanvas& canvas, const PlotPen& pen, const std::vector<double>& series) const;
  void DrawLineStateBars(PlotCanvas& canvas) const;
  void DrawLabel(PlotCanvas& canvas, const std::wstring& text, int x, int y, uint32_t brush) const;

  // --- bootloader (firmware/)
  UpdateResult UpdateFirmware(UpdateProgress* dialog, const std::wstring& path, uint16_t& formatVersion,
                              uint16_t& hardwareVersion, uint16_t& requiredBootloaderVersion,
                              uint16_t& firmwareVersion);
  UpdateResult LeaveBootloader();

  std::atomic<bool> cancelRequested{false};
  SettingsRecord settings;
  std::vector<CFlashPacket> packets;
  FlightData flight;
  LivePreview livePreview;
  std::atomic<bool> bootloaderMode{false};
  std::vector<std::string> comments;
  PlotFrame plotFrame;

  // Serialises a download's worker with readers of packets and livePreview.
  mutable std::recursive_mutex dataLock;
};

// The process-wide object.
CAltimeter& Altimeter();

// Version texts: 0x0400 is 4.00, 0x040A is 4.0a; the family is 4.0x.
std::wstring FormatVersion(uint16_t version);
std::wstring FormatVersionFamily();
