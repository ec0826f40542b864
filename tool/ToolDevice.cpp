#include "tool/ToolDevice.h"

#include "app/MessageTexts.h"
#include "device/ConnectionRoutines.h"
#include "device/HidHostHidapi.h"

std::string PlainLine(const std::wstring& line) {
  std::string text = Narrow(line);
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
  return text;
}

ToolTaskHost::ToolTaskHost(std::ostream& status, std::ostream& results, bool yes, std::ostream* progress)
    : status_(status), results_(results), yes_(yes), progress_(progress) {}

void ToolTaskHost::AppendLine(LineKind kind, const std::wstring& line) {
  switch (kind) {
    case LineKind::Status:
      status_ << PlainLine(line) << std::flush;
      break;
    case LineKind::Result:
      results_ << PlainLine(line) << std::flush;
      break;
    case LineKind::Progress:
      if (progress_) *progress_ << PlainLine(line) << std::flush;
      break;
  }
}

TaskAnswer ToolTaskHost::Ask(uint32_t stringId, uint32_t style) {
  if ((style & TaskStyle::YesNo) == TaskStyle::YesNo) return yes_ ? TaskAnswer::Yes : TaskAnswer::No;
  // A notice: the user reads it and the operation goes on.
  status_ << PlainLine(MessageText(stringId) + L"\r\n") << std::flush;
  return TaskAnswer::Ok;
}

int ExitOf(SettingsOutcome outcome) {
  switch (outcome) {
    case SettingsOutcome::Done:
    case SettingsOutcome::DefaultsShown:
      return kExitOk;
    case SettingsOutcome::NotConnected:
      return kExitNoDevice;
    case SettingsOutcome::Declined:
    case SettingsOutcome::FormRefused:
      return kExitUsage;
    case SettingsOutcome::Failed:
      break;
  }
  return kExitFailed;
}

int ExitOf(ControlOutcome outcome) {
  if (outcome == ControlOutcome::Done) return kExitOk;
  return outcome == ControlOutcome::NotConnected ? kExitNoDevice : kExitFailed;
}

int ExitOf(ClearOutcome outcome) {
  if (outcome == ClearOutcome::Done) return kExitOk;
  return outcome == ClearOutcome::NotConnected ? kExitNoDevice : kExitFailed;
}

int EndWithoutDevice(ToolContext& context, int status) {
  std::string advice = DeniedNodeAdvice(CurrentHidHost());
  if (advice.empty()) return status;
  context.err << advice << std::flush;
  return kExitNoDevice;
}

namespace {

int Finish(ToolContext& context, ConnectResult result) {
  if (result == Connected) return kExitOk;
  context.err << kAltimeterNotFound << "\n";
  return EndWithoutDevice(context);
}

}  // namespace

int ConnectNormal(ToolContext& context, CAltimeter& altimeter) {
  if (!context.AttachDevice()) return kExitUsage;
  ToolTaskHost status(context.err, context.err);
  return Finish(context, ConnectNormalDevice(altimeter, status));
}

int ConnectBootloader(ToolContext& context, CAltimeter& altimeter) {
  if (!context.AttachDevice()) return kExitUsage;
  ToolTaskHost status(context.err, context.err);
  // A firmware sent into the bootloader is not there yet: no device this time.
  return Finish(context, ConnectBootloaderDevice(altimeter, status));
}
