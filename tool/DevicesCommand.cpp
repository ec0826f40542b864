#include "device/Altimeter.h"
#include "device/HidHostHidapi.h"
#include "tool/Tool.h"
#include "tool/ToolDevice.h"

namespace {

int RunDevices(ToolContext& context) {
  if (!context.args.empty()) return context.Usage("devices takes no arguments");
  if (!context.AttachDevice()) return kExitUsage;
  int found = 0;
  for (uint16_t product : {kApplicationProductId, kBootloaderProductId}) {
    for (const CHidDevice& device : CHidDevice::FindDevices(product, 0, 0)) {
      uint16_t version = device.attributes.versionNumber;
      context.out << (product == kApplicationProductId ? "application " : "bootloader ")
                  << Narrow(FormatVersion(version));
      if ((version & kVersionMask) != kRequiredVersion) context.out << " incompatible";
      context.out << " " << Narrow(device.devicePath) << "\n";
      ++found;
    }
  }
  if (found == 0) {
    context.err << "Device not found.\n";
    int status = EndWithoutDevice(context, kExitFailed);
    // On the real bus, say where it looked and what it could not open.
    if (status == kExitFailed && context.deviceSpec.empty()) {
      std::string note = EmptyBusNote(CurrentHidHost());
      if (!note.empty()) context.err << note << "\n";
    }
    return status;
  }
  return kExitOk;
}

}  // namespace

ULK_TOOL_COMMAND("devices", "devices", "list the flight computers present", RunDevices);
