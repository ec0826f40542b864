// ulktool emulate: the control options dialog's "Emulate Launch...": the
// flight of a data set file is fed to the device while its events are shown.
#include <atomic>
#include <csignal>
#include <sstream>

#include "device/Altimeter.h"
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

class EventLines : public ShowEmulationEvent {
 public:
  explicit EventLines(std::ostream& out) : out_(out) {}
  void OnEmulationEvent(uint8_t code, int requestCount) override {
    switch (code) {
      case 15: {
        std::ostringstream seconds;
        seconds << requestCount / 10.0;
        Line("Launch Time (s): " + seconds.str());
        break;
      }
      case 16:
        Line("Launch detected.");
        break;
      case 17:
        Line("Line A fired.");
        break;
      case 18:
        Line("Line B fired.");
        break;
      case 19:
        Line("Apogee detected.");
        break;
      case 21:
        Line("Device indicates end of launch.");
        break;
      default:
        break;
    }
  }
  void Line(const std::string& text) { out_ << text << "\n" << std::flush; }

 private:
  std::ostream& out_;
};

int RunEmulate(ToolContext& context) {
  if (context.args.size() != 1) return context.Usage("emulate takes one data set file");
  CAltimeter& altimeter = Altimeter();
  if (!altimeter.LoadDataSet(Widen(context.args[0]))) {
    context.err << "Could not load file. Make sure the file is valid and not locked.\n";
    return kExitFailed;
  }
  altimeter.SelectDataSet(0);
  if (altimeter.flight.altitudeMsl.empty()) {
    context.err << "ulktool: " << context.args[0] << " holds no samples to emulate\n";
    return kExitFailed;
  }
  int status = ConnectNormal(context, altimeter);
  if (status != kExitOk) return status;

  EventLines lines(context.out);
  lines.Line("Emulating...");
  interruptFlag = &altimeter.cancelRequested;
  auto previousInt = std::signal(SIGINT, OnInterrupt);
  auto previousTerm = std::signal(SIGTERM, OnInterrupt);
  bool done = altimeter.EmulateLaunch(&lines);
  Restore(SIGINT, previousInt);
  Restore(SIGTERM, previousTerm);
  interruptFlag = nullptr;
  lines.Line(done ? "Done." : "Failed.");
  return done ? kExitOk : kExitFailed;
}

}  // namespace

ULK_TOOL_COMMAND("emulate", "emulate FILE.ulk",
                 "feed the flight of data set 0 to the device and show the events it reports (Ctrl-C stops)",
                 RunEmulate);
