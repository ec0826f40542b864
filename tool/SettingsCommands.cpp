// ulktool's settings and control commands: the device settings dialog's and
// the control options dialog's operations, with their status texts.
#include <CLI/CLI.hpp>
#include <fstream>
#include <functional>
#include <memory>

#include "device/Altimeter.h"
#include "device/Utf8.h"
#include "flightdata/DownloadTasks.h"
#include "flightdata/FlightJson.h"
#include "flightdata/ReplacingFile.h"
#include "settings/SettingsFile.h"
#include "settings/ControlTasks.h"
#include "settings/SettingsTasks.h"
#include "tool/Tool.h"
#include "tool/ToolDevice.h"

namespace {

// The first line of the question the dialogs ask before flight data goes.
constexpr const char* kClearsFlightData = "Writing settings will clear all flight data.";

// The packet as the device sent it, whether its checksum held, and the record's fields.
void PrintSettings(ToolContext& context, const SettingsPacket& packet, bool valid, const SettingsRecord& record) {
  static const char digits[] = "0123456789abcdef";
  context.out << "packet:";
  for (uint8_t byte : packet) context.out << ' ' << digits[byte >> 4] << digits[byte & 15];
  context.out << "\n";
  context.out << "checksum: " << (valid ? "valid" : "invalid") << "\n";
  for (const SettingsField& field : kSettingsFields) context.out << field.name << " = " << field.get(record) << "\n";
}

void PrintSettings(ToolContext& context, const SettingsRecord& record) {
  PrintSettings(context, record.packet, true, record);
}

// Connects, and on failure answers the exit status in status.
bool Connect(ToolContext& context, CAltimeter& altimeter, int& status) {
  status = ConnectNormal(context, altimeter);
  return status == kExitOk;
}

// A question of a destructive command without --yes is a refusal before the
// device is touched.
int RefuseWithoutYes(ToolContext& context, const char* question) {
  context.err << question << "\n"
              << "ulktool: run it with --yes to go ahead\n";
  return kExitUsage;
}

// A write agreed with --yes: change goes onto what the device holds (its
// defaults, when its packet is damaged), the record is written and shown.
int WriteOntoDevice(ToolContext& context, bool yes, const std::function<void(SettingsRecord&)>& change) {
  if (!yes) return RefuseWithoutYes(context, kClearsFlightData);
  CAltimeter altimeter;
  int status = kExitOk;
  if (!Connect(context, altimeter, status)) return status;
  ToolTaskHost host(context.err, context.out, yes);
  const SettingsOutcome read = ReadSettingsTask(altimeter, host);
  if (read != SettingsOutcome::Done && read != SettingsOutcome::DefaultsShown) return ExitOf(read);
  change(altimeter.settings);
  const SettingsOutcome written = WriteSettingsTask(altimeter, host);
  if (written != SettingsOutcome::Done) return ExitOf(written);
  PrintSettings(context, altimeter.settings);
  return kExitOk;
}

int RunSettingsSet(ToolContext& context, const std::vector<std::string>& assignments, bool yes) {
  std::vector<std::pair<const SettingsField*, long>> changes;
  for (const std::string& arg : assignments) {
    size_t eq = arg.find('=');
    if (eq == std::string::npos) return context.Usage("expected NAME=VALUE, got \"" + arg + "\"");
    std::string name = arg.substr(0, eq);
    const SettingsField* field = FindSettingsField(name);
    if (!field) {
      std::string names;
      for (const SettingsField& f : kSettingsFields) names += std::string(names.empty() ? "" : ", ") + f.name;
      return context.Usage("unknown setting \"" + name + "\"; the settings are " + names);
    }
    long value = 0;
    const std::string refused = ParseSettingsValue(*field, arg.substr(eq + 1), value);
    if (!refused.empty()) return context.Usage(refused);
    changes.emplace_back(field, value);
  }
  if (changes.empty()) return context.Usage("settings set needs at least one NAME=VALUE");
  return WriteOntoDevice(context, yes, [&](SettingsRecord& settings) {
    for (const auto& [field, value] : changes) field->set(settings, value);
  });
}

int RunSettingsRead(ToolContext& context, bool json) {
  CAltimeter altimeter;
  int status = kExitOk;
  if (!Connect(context, altimeter, status)) return status;
  ToolTaskHost host(context.err, context.out);
  SettingsPacket asRead{};
  const SettingsOutcome read = ReadSettingsTask(altimeter, host, &asRead);
  if (read != SettingsOutcome::Done && read != SettingsOutcome::DefaultsShown) return ExitOf(read);
  if (json) {
    Json object;
    PutSettings(object, asRead, read == SettingsOutcome::Done, altimeter.settings);
    context.out << JsonLine(object) << "\n";
  } else {
    PrintSettings(context, asRead, read == SettingsOutcome::Done, altimeter.settings);
  }
  return kExitOk;
}

// The device's settings into a settings file. Only a record that passed its
// checksum is kept: the defaults shown in place of a damaged one are no
// rocket's configuration.
int RunSettingsSave(ToolContext& context, const std::string& path) {
  const bool toStdout = IsStandardStream(path);
  // A file that cannot be written is told before the device is touched; an
  // earlier file of that name stays as it was until the new one is whole.
  std::unique_ptr<CReplacingFile> file;
  if (!toStdout) {
    file = std::make_unique<CReplacingFile>(Widen(path));
    if (!file->IsOpen()) {
      context.err << "ulktool: cannot write " << path << "\n";
      return kExitFailed;
    }
  }
  CAltimeter altimeter;
  int status = kExitOk;
  if (!Connect(context, altimeter, status)) return status;
  ToolTaskHost host(context.err, context.err);
  const SettingsOutcome read = ReadSettingsTask(altimeter, host);
  if (read == SettingsOutcome::DefaultsShown) {
    context.err << "ulktool: the device's settings failed their checksum; nothing was saved\n";
    return kExitFailed;
  }
  if (read != SettingsOutcome::Done) return ExitOf(read);
  if (toStdout) {
    context.BinaryOut();
    WriteSettingsFile(context.out, altimeter.settings);
    context.out.flush();
    return context.out ? kExitOk : kExitFailed;
  }
  WriteSettingsFile(file->Stream(), altimeter.settings);
  if (!file->Commit()) {
    context.err << "ulktool: cannot write " << path << "\n";
    return kExitFailed;
  }
  context.out << "Saved " << path << "\n";
  return kExitOk;
}

// A settings file onto the device, as settings set writes a change: the file
// is checked whole before the device is looked at.
int RunSettingsLoad(ToolContext& context, const std::string& path, bool yes) {
  SettingsRecord loaded;
  std::string problem;
  bool read = false;
  if (IsStandardStream(path)) {
    context.BinaryIn();
    read = ReadSettingsFile(context.in, loaded, problem);
  } else {
    std::ifstream in(FilePath(Widen(path)), std::ios::in | std::ios::binary);
    if (!in.is_open()) {
      context.err << "ulktool: cannot open " << path << "\n";
      return kExitFailed;
    }
    read = ReadSettingsFile(in, loaded, problem);
  }
  if (!read) {
    context.err << "ulktool: " << path << ": " << problem << "\n"
                << "ulktool: nothing was written to the device\n";
    return kExitFailed;
  }
  return WriteOntoDevice(context, yes, [&](SettingsRecord& settings) {
    for (const SettingsField& field : kSettingsFields) field.set(settings, field.get(loaded));
  });
}

struct SettingsOptions {
  bool json = false;
  bool yes = false;
  std::string save, load;
  CLI::Option* saveOption = nullptr;
  CLI::Option* loadOption = nullptr;
  CLI::App* set = nullptr;
  std::vector<std::string> assignments;
};

int RunSettings(ToolContext& context, const SettingsOptions& o) {
  const bool saving = o.saveOption->count() > 0, loading = o.loadOption->count() > 0, setting = o.set->parsed();
  if (saving + loading + setting > 1) return context.Usage("settings set, --save and --load go one at a time");
  if (o.json && (saving || loading || setting)) return context.Usage("--json goes with reading the settings");
  if (o.yes && !(loading || setting)) return context.Usage("--yes goes with a write: settings set or --load");
  if (setting) return RunSettingsSet(context, o.assignments, o.yes);
  if (saving) return RunSettingsSave(context, o.save);
  if (loading) return RunSettingsLoad(context, o.load, o.yes);
  return RunSettingsRead(context, o.json);
}

ToolRunner DeclareSettings(CLI::App& command) {
  auto o = std::make_shared<SettingsOptions>();
  command.add_flag("--json", o->json, "the settings as JSON: settingsValid, settingsPacket, settings");
  o->saveOption =
      command.add_option("--save", o->save, "save the device's settings to a settings file (- for standard output)")
          ->type_name("FILE");
  o->loadOption = command.add_option("--load", o->load,
                                     "write the settings of a settings file (- for standard input) to the device; "
                                     "clears the flight memory, so --yes")
                      ->type_name("FILE");
  command.add_flag("--yes", o->yes, "go ahead with a write, which clears the flight memory");
  o->set = command.add_subcommand("set", "change fields of the device's settings (clears the flight memory, so --yes)");
  o->set->add_option("NAME=VALUE", o->assignments, "a field and its new value, as settings lists them");
  o->set->add_flag("--yes", o->yes, "go ahead with the write, which clears the flight memory");
  return [o](ToolContext& context) { return RunSettings(context, *o); };
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
  return RunControl(context, ReadAltitudeTask);
}

int RunVoltage(ToolContext& context) {
  return RunControl(context, ReadVoltageTask);
}

int RunFire(ToolContext& context, bool yes) {
  if (!yes) return RefuseWithoutYes(context, "Firing both lines sets off whatever is connected to Line A and Line B.");
  return RunControl(context, FireLinesTask);
}

int RunResetSettings(ToolContext& context, bool yes) {
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

int RunClear(ToolContext& context, bool yes) {
  if (!yes) return RefuseWithoutYes(context, kClearsFlightData);
  CAltimeter altimeter;
  int status = kExitOk;
  if (!Connect(context, altimeter, status)) return status;
  ToolTaskHost host(context.err, context.out, yes);
  DownloadView nothingToDraw;
  return ExitOf(ClearTask(altimeter, host, nothingToDraw));
}

int RunBootloader(ToolContext& context) {
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

template <int (*Run)(ToolContext&)>
ToolRunner DeclareNoArguments(CLI::App&) {
  return Run;
}

// A command whose one option is the go-ahead for what it sets off.
template <int (*Run)(ToolContext&, bool)>
ToolRunner DeclareYes(CLI::App& command) {
  auto yes = std::make_shared<bool>(false);
  command.add_flag("--yes", *yes, "go ahead: without it nothing reaches the device");
  return [yes](ToolContext& context) { return Run(context, *yes); };
}

}  // namespace

ULK_TOOL_COMMAND("settings",
                 "settings [--json] | settings set NAME=VALUE... --yes | settings --save FILE | "
                 "settings --load FILE --yes",
                 "read the device settings, change them, save them to a file or write a saved file (a write clears "
                 "the flight memory)",
                 DeclareSettings);
ULK_TOOL_COMMAND("altitude", "altitude", "read the altitude the device measures now", DeclareNoArguments<RunAltitude>);
ULK_TOOL_COMMAND("voltage", "voltage", "read the device's battery voltage", DeclareNoArguments<RunVoltage>);
ULK_TOOL_COMMAND("fire", "fire --yes", "fire Line A and Line B for two seconds", DeclareYes<RunFire>);
ULK_TOOL_COMMAND("reset-settings", "reset-settings --yes",
                 "restore the device's default settings (clears the flight memory)", DeclareYes<RunResetSettings>);
ULK_TOOL_COMMAND("clear", "clear --yes", "erase the device's flight memory", DeclareYes<RunClear>);
ULK_TOOL_COMMAND("bootloader", "bootloader", "restart the device into its bootloader",
                 DeclareNoArguments<RunBootloader>);
