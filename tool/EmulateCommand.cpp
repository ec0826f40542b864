// ulktool emulate: the control options dialog's "Emulate Launch...": the
// flight of a data set file is fed to the device while its events are shown.
#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <memory>

#include "app/MessageTexts.h"
#include "device/Altimeter.h"
#include "resources/resource.h"
#include "settings/ControlTasks.h"
#include "tool/Tool.h"
#include "tool/ToolDevice.h"

namespace {

std::atomic<bool>* interruptFlag = nullptr;
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

// Ctrl-C (or a kill) stops the emulation as closing the dialog does; a second
// one ends the tool at once, should the device never ask again.
void OnInterrupt(int) {
  if (interruptFlag) interruptFlag->store(true);
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
}

void Restore(int signal, void (*previous)(int)) { std::signal(signal, previous == SIG_ERR ? SIG_DFL : previous); }

int RunEmulate(ToolContext& context, const std::string& input) {
  if (input.empty()) return context.Usage("emulate takes one data set file");
  CAltimeter& altimeter = Altimeter();
  bool loaded = false;
  if (IsStandardStream(input)) {
    context.BinaryIn();
    loaded = altimeter.LoadDataSet(context.in);
  } else {
    loaded = altimeter.LoadDataSet(Widen(input));
  }
  if (!loaded) {
    context.err << Narrow(MessageText(IDS_LOAD_FAILED)) << "\n";
    return kExitFailed;
  }
  altimeter.SelectDataSet(0);
  if (!altimeter.FlightDecoded()) {
    context.err << "ulktool: " << input << " holds no samples to emulate\n";
    return kExitFailed;
  }
  int status = ConnectNormal(context, altimeter);
  if (status != kExitOk) return status;

  ToolTaskHost host(context.err, context.out);
  interruptFlag = &altimeter.cancelRequested;
  auto previousInt = std::signal(SIGINT, OnInterrupt);
  auto previousTerm = std::signal(SIGTERM, OnInterrupt);
  const ControlOutcome outcome = EmulateLaunchTask(altimeter, host);
  Restore(SIGINT, previousInt);
  Restore(SIGTERM, previousTerm);
  interruptFlag = nullptr;
  return ExitOf(outcome);
}

ToolRunner DeclareEmulate(CLI::App& command) {
  auto input = std::make_shared<std::string>();
  command.add_option("FILE", *input, "the data set file whose flight is fed (- for standard input)");
  return [input](ToolContext& context) { return RunEmulate(context, *input); };
}

}  // namespace

ULK_TOOL_COMMAND("emulate", "emulate FILE.ulk",
                 "feed the flight of data set 0 to the device and show the events it reports (Ctrl-C stops)",
                 DeclareEmulate);
