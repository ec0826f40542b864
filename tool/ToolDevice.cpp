#include "tool/ToolDevice.h"

#include "device/ConnectionRoutines.h"

namespace {

// The dialogs' status lines on standard error, with plain line ends.
class ToolStatus : public StatusSink {
 public:
  explicit ToolStatus(std::ostream& err) : err_(err) {}
  void AppendStatus(const std::wstring& line) override {
    std::string text = Narrow(line);
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
    err_ << text;
  }

 private:
  std::ostream& err_;
};

int Finish(ToolContext& context, ConnectResult result) {
  if (result == Connected) return kExitOk;
  context.err << kAltimeterNotFound << "\n";
  return kExitNoDevice;
}

}  // namespace

int ConnectNormal(ToolContext& context, CAltimeter& altimeter) {
  if (!context.AttachDevice()) return kExitUsage;
  ToolStatus status(context.err);
  return Finish(context, ConnectNormalDevice(altimeter, status));
}

int ConnectBootloader(ToolContext& context, CAltimeter& altimeter) {
  if (!context.AttachDevice()) return kExitUsage;
  ToolStatus status(context.err);
  // A firmware sent into the bootloader is not there yet: no device this time.
  return Finish(context, ConnectBootloaderDevice(altimeter, status));
}
