// ulktool's settings and control commands: the device settings dialog's and
// the control options dialog's operations, with their status texts.
#include <charconv>
#include <cstdio>
#include <sstream>

#include "device/Altimeter.h"
#include "tool/Tool.h"
#include "tool/ToolDevice.h"

namespace {

// The first line of the question the dialogs ask before flight data goes.
constexpr const char* kClearsFlightData = "Writing settings will clear all flight data.";

// A working field of the settings record, by the name it has in the record.
struct SettingsField {
  const char* name;
  long minimum;
  long maximum;
  const char* unit;
  long (*get)(const SettingsRecord&);
  void (*set)(SettingsRecord&, long);
};

#define ULK_FIELD(field, type, minimum, maximum, unit)                                           \
  SettingsField {                                                                                \
    #field, minimum, maximum, unit, [](const SettingsRecord& r) { return static_cast<long>(r.field); }, \
        [](SettingsRecord& r, long v) { r.field = static_cast<type>(v); }                        \
  }

// Ranges are what the packet can carry, narrowed where a wider value would be
// no setting: the line modes stop at 5, the minimum battery at the 14 V the
// settings dialog accepts, and the offset at what reads back unchanged.
const SettingsField kFields[] = {
    ULK_FIELD(deviceFlag, bool, 0, 1, ""),
    ULK_FIELD(deviceParam1, uint16_t, 0, 65535, ""),
    ULK_FIELD(machInhibit, uint16_t, 0, 65535, " (tenths of a second)"),
    ULK_FIELD(minBattery, uint8_t, 0, 140, " (tenths of a volt)"),
    ULK_FIELD(altitudeOffset, int32_t, -32768, 32767, " (metres)"),
    ULK_FIELD(lineAMode, uint8_t, 0, 5, " (0 disabled, 1 time, 2 apogee, 3 altitude, 4 altitude before apogee, 5 peak climb velocity)"),
    ULK_FIELD(lineBMode, uint8_t, 0, 5, " (0 disabled, 1 time, 2 apogee, 3 altitude, 4 altitude before apogee, 5 peak climb velocity)"),
    ULK_FIELD(lineAValue, uint16_t, 0, 65535, ""),
    ULK_FIELD(lineBValue, uint16_t, 0, 65535, ""),
    ULK_FIELD(imperialUnits, bool, 0, 1, " (0 metric, 1 imperial)"),
    ULK_FIELD(deviceParam2, uint16_t, 0, 65535, ""),
    ULK_FIELD(lineADelay, uint8_t, 0, 255, " (tenths of a second)"),
    ULK_FIELD(lineBDelay, uint8_t, 0, 255, " (tenths of a second)"),
    ULK_FIELD(lineAOnTime, uint8_t, 0, 255, " (tenths of a second)"),
    ULK_FIELD(lineBOnTime, uint8_t, 0, 255, " (tenths of a second)"),
};

#undef ULK_FIELD

const SettingsField* FindField(const std::string& name) {
  for (const SettingsField& field : kFields)
    if (name == field.name) return &field;
  return nullptr;
}

void PrintSettings(ToolContext& context, SettingsRecord& record) {
  static const char digits[] = "0123456789abcdef";
  context.out << "packet:";
  for (uint8_t byte : record.packet) context.out << ' ' << digits[byte >> 4] << digits[byte & 15];
  context.out << "\n";
  bool valid = record.ParsePacket();
  context.out << "checksum: " << (valid ? "valid" : "invalid") << "\n";
  for (const SettingsField& field : kFields) context.out << field.name << " = " << field.get(record) << "\n";
}

// The settings dialog's read: the packet from the device, unpacked; a packet
// that fails its checksum is replaced by the defaults as the dialog shows them.
bool ReadDeviceSettings(ToolContext& context, CAltimeter& altimeter) {
  if (altimeter.ReadSettings() != Ok) {
    context.err << "Failed to read settings.\n";
    return false;
  }
  if (altimeter.settings.ParsePacket()) {
    context.err << "Settings read successfully.\n";
  } else {
    context.err << "Checksum failed. The device settings are invalid.\n"
                   "Displaying default settings.\n";
    altimeter.settings.LoadDefaults();
  }
  return true;
}

// Connects, and on failure answers the exit status in status.
bool Connect(ToolContext& context, CAltimeter& altimeter, int& status) {
  status = ConnectNormal(context, altimeter);
  return status == kExitOk;
}

bool ClearFlightData(ToolContext& context, CAltimeter& altimeter) {
  context.err << "Clearing data... please wait a few seconds.\n";
  if (altimeter.ClearMemory() != Ok) {
    context.err << "Failed to clear data.\n";
    return false;
  }
  return true;
}

bool ParseValue(const std::string& text, long& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && !text.empty();
}

// Reads the settings the device holds now and prints them.
int ReadBackAndPrint(ToolContext& context, CAltimeter& altimeter) {
  if (altimeter.ReadSettings() != Ok) {
    context.err << "Failed to read settings.\n";
    return kExitFailed;
  }
  PrintSettings(context, altimeter.settings);
  return kExitOk;
}

int RunSettingsSet(ToolContext& context) {
  bool yes = context.TakeFlag("--yes");
  std::vector<std::pair<const SettingsField*, long>> changes;
  for (size_t i = 1; i < context.args.size(); ++i) {
    const std::string& arg = context.args[i];
    size_t eq = arg.find('=');
    if (eq == std::string::npos) return context.Usage("expected NAME=VALUE, got \"" + arg + "\"");
    std::string name = arg.substr(0, eq);
    const SettingsField* field = FindField(name);
    if (!field) {
      std::string names;
      for (const SettingsField& f : kFields) names += std::string(names.empty() ? "" : ", ") + f.name;
      return context.Usage("unknown setting \"" + name + "\"; the settings are " + names);
    }
    long value = 0;
    if (!ParseValue(arg.substr(eq + 1), value) || value < field->minimum || value > field->maximum) {
      std::ostringstream message;
      message << name << " must be a whole number from " << field->minimum << " to " << field->maximum
              << field->unit << ", not \"" << arg.substr(eq + 1) << "\"";
      return context.Usage(message.str());
    }
    changes.emplace_back(field, value);
  }
  if (changes.empty()) return context.Usage("settings set needs at least one NAME=VALUE");
  if (!yes) {
    context.err << kClearsFlightData << "\n"
                << "ulktool: run it with --yes to go ahead\n";
    return kExitUsage;
  }

  CAltimeter altimeter;
  int status = kExitOk;
  if (!Connect(context, altimeter, status)) return status;
  context.err << "Altimeter found! Reading settings...\n";
  if (!ReadDeviceSettings(context, altimeter)) return kExitFailed;
  for (const auto& [field, value] : changes) field->set(altimeter.settings, value);
  altimeter.settings.BuildPacket();
  if (!ClearFlightData(context, altimeter)) return kExitFailed;
  context.err << "Data cleared.\nWriting settings...\n";
  if (altimeter.WriteSettings() != Ok) {
    context.err << "Failed to write settings.\n";
    return kExitFailed;
  }
  context.err << "Settings written successfully.\n";
  return ReadBackAndPrint(context, altimeter);
}

int RunSettings(ToolContext& context) {
  if (!context.args.empty() && context.args[0] == "set") return RunSettingsSet(context);
  if (!context.args.empty()) return context.Usage("unexpected \"" + context.args[0] + "\"");
  CAltimeter altimeter;
  int status = kExitOk;
  if (!Connect(context, altimeter, status)) return status;
  return ReadBackAndPrint(context, altimeter);
}

int RunAltitude(ToolContext& context) {
  if (!context.args.empty()) return context.Usage("altitude takes no arguments");
  CAltimeter altimeter;
  int status = kExitOk;
  if (!Connect(context, altimeter, status)) return status;
  // As the control dialog does: a settings read first, the record left as it was.
  SettingsRecord saved = altimeter.settings;
  CommandResult read = altimeter.ReadSettings();
  altimeter.settings.ParsePacket();
  altimeter.settings = saved;
  if (read != Ok) {
    context.err << "Failed to read settings.\n";
    return kExitFailed;
  }
  float metres = 0;
  if (altimeter.ReadAltitude(metres) != Ok) {
    context.err << "Failed.\n";
    return kExitFailed;
  }
  float feet = metres / 0.3048f;
  context.out << "Current MSL Altitude: " << metres << " m / " << feet << " ft. \n";
  return kExitOk;
}

int RunVoltage(ToolContext& context) {
  if (!context.args.empty()) return context.Usage("voltage takes no arguments");
  CAltimeter altimeter;
  int status = kExitOk;
  if (!Connect(context, altimeter, status)) return status;
  uint16_t tenths = 0;
  if (altimeter.ReadVoltage(tenths) != Ok) {
    context.err << "Failed.\n";
    return kExitFailed;
  }
  context.out << "Current Voltage: " << tenths / 10.0 << " Volts\n";
  return kExitOk;
}

int RunFire(ToolContext& context) {
  bool yes = context.TakeFlag("--yes");
  if (!context.args.empty()) return context.Usage("fire takes no arguments but --yes");
  if (!yes) {
    context.err << "Firing both lines sets off whatever is connected to Line A and Line B.\n"
                   "ulktool: run it with --yes to go ahead\n";
    return kExitUsage;
  }
  CAltimeter altimeter;
  int status = kExitOk;
  if (!Connect(context, altimeter, status)) return status;
  context.err << "Firing both lines for 2 seconds...\n";
  if (altimeter.FireLines() != Ok) {
    context.err << "Failed.\n";
    return kExitFailed;
  }
  context.out << "Done.\n";
  return kExitOk;
}

int RunResetSettings(ToolContext& context) {
  bool yes = context.TakeFlag("--yes");
  if (!context.args.empty()) return context.Usage("reset-settings takes no arguments but --yes");
  if (!yes) {
    context.err << kClearsFlightData << "\nulktool: run it with --yes to go ahead\n";
    return kExitUsage;
  }
  CAltimeter altimeter;
  int status = kExitOk;
  if (!Connect(context, altimeter, status)) return status;
  if (!ClearFlightData(context, altimeter)) return kExitFailed;
  context.err << "Data cleared.\nResetting...\n";
  if (altimeter.ResetSettings() != Ok) {
    context.err << "Failed to reset settings.\n";
    return kExitFailed;
  }
  context.err << "Settings have been reset.\n";
  return ReadBackAndPrint(context, altimeter);
}

int RunClear(ToolContext& context) {
  bool yes = context.TakeFlag("--yes");
  if (!context.args.empty()) return context.Usage("clear takes no arguments but --yes");
  if (!yes) {
    context.err << kClearsFlightData << "\nulktool: run it with --yes to go ahead\n";
    return kExitUsage;
  }
  CAltimeter altimeter;
  int status = kExitOk;
  if (!Connect(context, altimeter, status)) return status;
  if (!ClearFlightData(context, altimeter)) return kExitFailed;
  context.out << "Data cleared successfully.\n";
  return kExitOk;
}

int RunBootloader(ToolContext& context) {
  if (!context.args.empty()) return context.Usage("bootloader takes no arguments");
  CAltimeter altimeter;
  int status = kExitOk;
  if (!Connect(context, altimeter, status)) return status;
  if (altimeter.EnterBootloader() != Ok) {
    context.err << "Failed.\n";
    return kExitFailed;
  }
  altimeter.Close();
  // The device leaves the bus and enumerates again as its bootloader.
  constexpr uint32_t kStepMs = 100;
  constexpr uint32_t kWaitMs = 10000;
  for (uint32_t waited = 0; waited <= kWaitMs; waited += kStepMs) {
    uint16_t version = 0;
    if (altimeter.Connect(&version, true) == Connected) {
      context.out << "Device connected in bootloader mode.\n"
                  << "Device bootloader version: " << Narrow(FormatVersion(version)) << "\n";
      return kExitOk;
    }
    CurrentHidHost().Sleep(kStepMs);
  }
  context.err << "Device not found.\n" << kAltimeterNotFound << "\n";
  return kExitFailed;
}

}  // namespace

ULK_TOOL_COMMAND("settings", "settings | settings set NAME=VALUE... --yes",
                 "read the device settings, or change them (clears the flight memory)", RunSettings);
ULK_TOOL_COMMAND("altitude", "altitude", "read the altitude the device measures now", RunAltitude);
ULK_TOOL_COMMAND("voltage", "voltage", "read the device's battery voltage", RunVoltage);
ULK_TOOL_COMMAND("fire", "fire --yes", "fire Line A and Line B for two seconds", RunFire);
ULK_TOOL_COMMAND("reset-settings", "reset-settings --yes",
                 "restore the device's default settings (clears the flight memory)", RunResetSettings);
ULK_TOOL_COMMAND("clear", "clear --yes", "erase the device's flight memory", RunClear);
ULK_TOOL_COMMAND("bootloader", "bootloader", "restart the device into its bootloader", RunBootloader);
