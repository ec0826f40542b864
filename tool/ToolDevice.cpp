#include "tool/ToolDevice.h"

namespace {

int Report(ToolContext& context, ConnectResult result, uint16_t version, bool bootloader) {
  const char* mode = bootloader ? "bootloader" : "firmware";
  switch (result) {
    case Connected:
      context.err << (bootloader ? "Device connected in bootloader mode.\n" : "Device Connected.\n");
      context.err << (bootloader ? "Device bootloader version: " : "Current device firmware version: ")
                  << Narrow(FormatVersion(version)) << "\n";
      return kExitOk;
    case CannotOpen:
      context.err << (bootloader ? "Device found in bootloader mode. Unable to connect to device.\n"
                                 : "Device found. Unable to connect to device.\n")
                  << "Please ensure it is not being used by another application.\n"
                     "Removing the device and re-attaching it should correct this.\n";
      break;
    case IncompatibleVersion:
      context.err << (bootloader ? "Device found in bootloader mode, but has incompatible bootloader version.\n"
                                 : "Device found, but has incompatible firmware version.\n");
      context.err << "Current device " << mode << " version: " << Narrow(FormatVersion(version)) << "\n";
      context.err << "Required device " << mode << " version: " << Narrow(FormatVersion(kRequiredVersion)) << "\n";
      break;
    case NotFound:
      context.err << "Device not found.\n";
      break;
  }
  context.err << kAltimeterNotFound << "\n";
  return kExitNoDevice;
}

}  // namespace

int ConnectNormal(ToolContext& context, CAltimeter& altimeter) {
  if (!context.AttachDevice()) return kExitUsage;
  uint16_t version = 0;
  return Report(context, altimeter.Connect(&version, false), version, false);
}

int ConnectBootloader(ToolContext& context, CAltimeter& altimeter) {
  if (!context.AttachDevice()) return kExitUsage;
  uint16_t version = 0;
  return Report(context, altimeter.Connect(&version, true), version, true);
}
