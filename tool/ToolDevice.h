// ulktool and the flight computer: connecting as the device dialogs do, and
// the TaskHost through which the tool runs the program's device operations.
#pragma once

#include <ostream>

#include "device/Altimeter.h"
#include "device/TaskHost.h"
#include "flightdata/DownloadTasks.h"
#include "settings/ControlTasks.h"
#include "settings/SettingsTasks.h"
#include "tool/Tool.h"

// An operation's lines with plain line ends: status lines to one stream,
// results to another, progress lines to a third or nowhere (the tool: a bar
// on a terminal, else nothing). Its questions are answered Yes only when the
// user gave --yes; a notice is written out with the status and answered OK.
class ToolTaskHost : public TaskHost {
 public:
  ToolTaskHost(std::ostream& status, std::ostream& results, bool yes, std::ostream* progress);
  ToolTaskHost(std::ostream& status, std::ostream& results, bool yes = false)
      : ToolTaskHost(status, results, yes, nullptr) {}

  void AppendLine(LineKind kind, const std::wstring& line) override;
  TaskAnswer Ask(uint32_t stringId, uint32_t style) override;
  void ShowBusy(bool) override {}

 private:
  std::ostream& status_;
  std::ostream& results_;
  bool yes_;
  std::ostream* progress_;
};

// The line's text with "\r\n" as "\n".
std::string PlainLine(const std::wstring& line);

// Installs the device host and connects in normal mode (a bootloader is told to
// leave); the connection's status lines go to standard error. Answers kExitOk
// when connected, else the exit status to end with (kExitNoDevice, or
// kExitUsage for a bad --device).
int ConnectNormal(ToolContext& context, CAltimeter& altimeter);

// The same in bootloader mode; an application firmware is sent into the bootloader.
int ConnectBootloader(ToolContext& context, CAltimeter& altimeter);

// Where every device command that found no usable device ends, after its own
// lines: a flight computer that is there but that this user may not open is
// told, with how to allow it, and the status is then kExitNoDevice.
int EndWithoutDevice(ToolContext& context, int status = kExitNoDevice);

// The exit status of an operation's outcome: 0 done, 3 no device, 2 a
// question the user was not asked (no --yes) or a refused entry, 1 failed.
int ExitOf(SettingsOutcome outcome);
int ExitOf(ControlOutcome outcome);
int ExitOf(ClearOutcome outcome);

// The line a worker shows when the device cannot be reached.
inline const char* kAltimeterNotFound = "Altimeter not found. Make sure it is properly connected to the PC.";
