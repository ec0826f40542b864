#include <CLI/CLI.hpp>
#include <memory>

#include "device/Altimeter.h"
#include "device/HidHostHidapi.h"
#include "flightdata/FlightJson.h"
#include "tool/Tool.h"
#include "tool/ToolDevice.h"

namespace {

int RunDevices(ToolContext& context, bool json) {
  if (!context.AttachDevice()) return kExitUsage;
  int found = 0;
  Json list = Json::array();
  for (uint16_t product : {kApplicationProductId, kBootloaderProductId}) {
    for (const CHidDevice& device : CHidDevice::FindDevices(product, 0, 0)) {
      uint16_t version = device.attributes.versionNumber;
      ++found;
      if (json) {
        list.push_back({{"mode", product == kApplicationProductId ? "application" : "bootloader"},
                        {"version", Narrow(FormatVersion(version))},
                        {"compatible", (version & kVersionMask) == kRequiredVersion},
                        {"path", JsonText(Narrow(device.devicePath))}});
        continue;
      }
      context.out << (product == kApplicationProductId ? "application " : "bootloader ")
                  << Narrow(FormatVersion(version));
      if ((version & kVersionMask) != kRequiredVersion) context.out << " incompatible";
      context.out << " " << Narrow(device.devicePath) << "\n";
    }
  }
  // An empty list too, so that a script reads JSON whatever was found.
  if (json) context.out << JsonLine(list) << "\n";
  if (found == 0) {
    context.err << "Device not found.\n";
    // A node this user may not open is told with its remedy; otherwise, on
    // the real bus, where it looked.
    if (!DeniedNodeAdvice(CurrentHidHost()).empty()) return EndWithoutDevice(context);
    if (context.deviceSpec.empty()) {
      std::string note = EmptyBusNote(CurrentHidHost());
      if (!note.empty()) context.err << note << "\n";
    }
    return kExitNoDevice;
  }
  return kExitOk;
}

ToolRunner DeclareDevices(CLI::App& command) {
  auto json = std::make_shared<bool>(false);
  command.add_flag("--json", *json, "a JSON array: mode, version, compatible, path");
  return [json](ToolContext& context) { return RunDevices(context, *json); };
}

}  // namespace

ULK_TOOL_COMMAND("devices", "devices [--json]", "list the flight computers present", DeclareDevices);
