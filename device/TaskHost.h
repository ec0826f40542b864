// What a device operation needs from whoever runs it: a dialog of the program,
// ulktool, or a test. An operation (a "task") is written once, over
// CAltimeter& and a TaskHost&, and runs the same steps for every front end.
#pragma once

#include <cstdint>
#include <string>

#include "device/ConnectionRoutines.h"

struct SettingsRecord;
struct SettingsControls;

// The answer to a question, numbered as a message box numbers its buttons. A
// box that failed answers None, which every destructive step takes as a No.
enum class TaskAnswer : int { None = 0, Ok = 1, Yes = 6, No = 7 };

// Message box styles, with the numbers a Win32 message box takes.
namespace TaskStyle {
constexpr uint32_t Ok = 0x00;
constexpr uint32_t YesNo = 0x04;
constexpr uint32_t IconError = 0x10;
constexpr uint32_t IconWarning = 0x30;
constexpr uint32_t IconInformation = 0x40;
}  // namespace TaskStyle

// What a status line is to a front end that keeps them apart (ulktool): the
// dialogs show all three in their status box.
enum class LineKind {
  Status,    // how the operation goes
  Result,    // what the user asked for: a reading, an outcome to script against
  Progress,  // one step of a long operation ("Packet Read: 12", "40%")
};

class TaskHost : public StatusSink {
 public:
  // One line, ending in "\r\n" as the dialogs' lines do. Any thread.
  virtual void AppendLine(LineKind kind, const std::wstring& line) = 0;
  void AppendStatus(const std::wstring& line) override { AppendLine(LineKind::Status, line); }
  void AppendResult(const std::wstring& line) { AppendLine(LineKind::Result, line); }
  void AppendProgress(const std::wstring& line) { AppendLine(LineKind::Progress, line); }

  // A question or notice from the string table, in a message box of that style.
  virtual TaskAnswer Ask(uint32_t stringId, uint32_t style) = 0;

  // The connection look: busy while the operation uses the channel, idle when
  // its buttons may be pressed again.
  virtual void ShowBusy(bool busy) = 0;
  // After an early failure of a read, write or download: the operation's first
  // button ("Read Settings", "Read Data") alone is offered again.
  virtual void OfferRetry() {}
  // The main window's plot is drawn again from the selected data set.
  virtual void RequestRedraw() {}

  // The settings form, where there is one: the record into its controls, and
  // its controls as they are. False: no form (the record stays as it is).
  virtual void ShowSettings(const SettingsRecord&) {}
  virtual bool ReadSettingsForm(SettingsControls&) { return false; }
};

// A destructive step goes ahead on this answer only.
inline bool AnsweredYes(TaskAnswer answer) { return answer == TaskAnswer::Yes; }

// "Altimeter not found. Make sure it is properly connected to the PC.\r\n"
extern const wchar_t* const kAltimeterNotFoundLine;

// Waits on the device host's clock (the simulator's is virtual): the one wait
// an operation makes between its steps.
void WaitOnHostClock(uint32_t ms);
