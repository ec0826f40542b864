// ulktool's settings and control commands: the device settings dialog's and
// the control options dialog's operations, with their status texts.
#include <charconv>
#include <cstdio>
#include <sstream>

#include "device/Altimeter.h"
#include "flightdata/DownloadTasks.h"
#include "settings/ControlTasks.h"
#include "settings/SettingsTasks.h"
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

// The packet as the device sent it, whether its checksum held, and the record's fields.
void PrintSettings(ToolContext& context, const SettingsPacket& packet, bool valid, const SettingsRecord& record) {
  static const char digits[] = "0123456789abcdef";
  context.out << "packet:";
  for (uint8_t byte : packet) context.out << ' ' << digits[byte >> 4] << digits[byte & 15];
  context.out << "\n";
  context.out << "checksum: " << (valid ? "valid" : "invalid") << "\n";
  for (const SettingsField& field : kFields) context.out << field.name << " = " << field.get(record) << "\n";
}

void PrintSettings(ToolContext& context, const SettingsRecord& record) {
  PrintSettings(context, record.packet, true, record);
}

// Connects, and on failure answers the exit status in status.
bool Connect(ToolContext& context, CAltimeter& altimeter, int& status) {
  status = ConnectNormal(context, altimeter);
  return status == kExitOk;
}

bool ParseValue(const std::string& text, long& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && !text.empty();
}

// A question of a destructive command without --yes is a refusal before the
// device is touched.
int RefuseWithoutYes(ToolContext& context, const char* question) {
  context.err << question << "\n"
              << "ulktool: run it with --yes to go ahead\n";
  return kExitUsage;
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
  if (!yes) return RefuseWithoutYes(context, kClearsFlightData);

  CAltimeter altimeter;
  int status = kExitOk;
  if (!Connect(context, altimeter, status)) return status;
  ToolTaskHost host(context.err, context.out, yes);
  // The changes go onto what the device holds (its defaults, when its packet is damaged).
  const SettingsOutcome read = ReadSettingsTask(altimeter, host);
  if (read != SettingsOutcome::Done && read != SettingsOutcome::DefaultsShown) return ExitOf(read);
  for (const auto& [field, value] : changes) field->set(altimeter.settings, value);
  const SettingsOutcome written = WriteSettingsTask(altimeter, host);
  if (written != SettingsOutcome::Done) return ExitOf(written);
  PrintSettings(context, altimeter.settings);
  return kExitOk;
}

int RunSettings(ToolContext& context) {
  if (!context.args.empty() && context.args[0] == "set") return RunSettingsSet(context);
  if (!context.args.empty()) return context.Usage("unexpected \"" + context.args[0] + "\"");
  CAltimeter altimeter;
  int status = kExitOk;
  if (!Connect(context, altimeter, status)) return status;
  ToolTaskHost host(context.err, context.out);
  SettingsPacket asRead{};
  const SettingsOutcome read = ReadSettingsTask(altimeter, host, &asRead);
  if (read != SettingsOutcome::Done && read != SettingsOutcome::DefaultsShown) return ExitOf(read);
  PrintSettings(context, asRead, read == SettingsOutcome::Done, altimeter.settings);
  return kExitOk;
}

// Runs a control operation on the connected device.
int RunControl(ToolContext& context, ControlOutcome (*task)(CAltimeter&, TaskHost&)) {
  CAltimeter altimeter;
  int status = kExitOk;
  if (!Connect(context, altimeter, status)) return status;
  ToolTaskHost host(context.err, context.out);
  return ExitOf(task(altimeter, host));
}

int RunAltitude(ToolContext& context) {
  if (!context.args.empty()) return context.Usage("altitude takes no arguments");
  return RunControl(context, ReadAltitudeTask);
}

int RunVoltage(ToolContext& context) {
  if (!context.args.empty()) return context.Usage("voltage takes no arguments");
  return RunControl(context, ReadVoltageTask);
}

int RunFire(ToolContext& context) {
  bool yes = context.TakeFlag("--yes");
  if (!context.args.empty()) return context.Usage("fire takes no arguments but --yes");
  if (!yes) return RefuseWithoutYes(context, "Firing both lines sets off whatever is connected to Line A and Line B.");
  return RunControl(context, FireLinesTask);
}

int RunResetSettings(ToolContext& context) {
  bool yes = context.TakeFlag("--yes");
  if (!context.args.empty()) return context.Usage("reset-settings takes no arguments but --yes");
  if (!yes) return RefuseWithoutYes(context, kClearsFlightData);
  CAltimeter altimeter;
  int status = kExitOk;
  if (!Connect(context, altimeter, status)) return status;
  ToolTaskHost host(context.err, context.out, yes);
  const SettingsOutcome reset = ResetSettingsTask(altimeter, host);
  if (reset != SettingsOutcome::Done) return ExitOf(reset);
  PrintSettings(context, altimeter.settings);
  return kExitOk;
}

int RunClear(ToolContext& context) {
  bool yes = context.TakeFlag("--yes");
  if (!context.args.empty()) return context.Usage("clear takes no arguments but --yes");
  if (!yes) return RefuseWithoutYes(context, kClearsFlightData);
  CAltimeter altimeter;
  int status = kExitOk;
  if (!Connect(context, altimeter, status)) return status;
  ToolTaskHost host(context.err, context.out, yes);
  DownloadView nothingToDraw;
  return ExitOf(ClearTask(altimeter, host, nothingToDraw));
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
    WaitOnHostClock(kStepMs);
  }
  context.err << "Device not found.\n" << kAltimeterNotFound << "\n";
  return EndWithoutDevice(context, kExitFailed);
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
