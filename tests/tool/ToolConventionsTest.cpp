// ulktool as command-line users and scripts expect it: help that does nothing
// else, results on standard output apart from status lines, "-" for the
// standard streams, one exit status for no device, JSON that a parser reads,
// and settings kept in files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "app/ProgramInfo.h"
#include "device/Altimeter.h"
#include "device/Utf8.h"
#include "settings/SettingsFile.h"
#include "tests/TestSupport.h"
#include "tests/flightdata/FlightTestSupport.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

const std::string kSim = "--device sim:clock=virtual ";
const std::string kNoDevice = "--device exec:true ";
const std::string kSettingsDevice = "sh " ULK_SOURCE_DIR "/tests/fixtures/settings-device.sh";

class ToolConventionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(Cwd());
    fs::create_directories(dir.Path("io"));
  }

  // The folder the tool runs in; the help tests check that it stays empty.
  fs::path Cwd() const { return dir.Path("cwd"); }
  fs::path File(const std::string& name) const { return dir.Path(name); }

  // Runs the real ulktool in Cwd() with these arguments (quoted for the
  // shell), standard input from `input` and standard output into a pipe.
  ToolRun Tool(const std::string& args, const fs::path& input = "/dev/null") {
    const fs::path io = dir.Path("io");
    const std::string command = "cd " + Quoted(Cwd()) + " && ( " ULKTOOL_PATH " " + args + " <" + Quoted(input) +
                                " 2>" + Quoted(io / "err") + "; echo $? >" + Quoted(io / "status") + " ) | cat >" +
                                Quoted(io / "out");
    ToolRun run;
    int raw = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << command;
    run.status = std::stoi("0" + ReadFileBytes(io / "status"));
    run.out = ReadFileBytes(io / "out");
    run.err = ReadFileBytes(io / "err");
    return run;
  }

  // A device whose process leaves a mark when it is started at all.
  std::string MarkingDevice() const {
    return "--device 'exec:touch " + File("device-started").string() + "; exec " + kSettingsDevice + "' ";
  }
  bool DeviceStarted() const { return fs::exists(File("device-started")); }

  // What a command writes on standard output, as a JSON parser reads it
  // (discarded, not an exception, when it is no JSON).
  nlohmann::json JsonOf(const std::string& args, ToolRun& run) {
    run = Tool(args);
    EXPECT_EQ(run.status, 0) << run.err;
    return nlohmann::json::parse(run.out, nullptr, false);
  }

  ScratchDir dir;
};

// The commands that `ulktool --help` lists, the first word of each line.
std::vector<std::string> ListedCommands(const std::string& help) {
  std::vector<std::string> commands;
  std::istringstream in(help.substr(help.find("Commands:\n")));
  std::smatch m;
  for (std::string line; std::getline(in, line);)
    if (std::regex_search(line, m, std::regex("^  ([a-z-]+)"))) commands.push_back(m[1]);
  return commands;
}

TEST_F(ToolConventionsTest, EveryCommandAnswersHelpAndDoesNothingElse) {
  ToolRun help = Tool("--help");
  ASSERT_EQ(help.status, 0);
  std::vector<std::string> commands = ListedCommands(help.out);
  for (const char* named : {"download", "update", "settings", "csv", "plot", "help"})
    ASSERT_NE(std::find(commands.begin(), commands.end(), named), commands.end()) << named << "\n" << help.out;

  struct Form {
    std::string command;  // whose usage answers
    std::string args;
  };
  std::vector<Form> forms;
  for (const std::string& command : commands) {
    for (const std::string& form : {command + " --help", command + " -h", "help " + command})
      forms.push_back({command, form});
  }
  // With the arguments that would otherwise download, write or program.
  for (const Form& form : std::vector<Form>{
           {"download", "download flights --csv --force --help"},
           {"download", "download --help flights"},
           {"update", "update app.dat --help"},
           {"settings", "settings --save rocket.settings --help"},
           {"settings", "settings --load rocket.settings --yes -h"},
           {"settings", "settings set lineAMode=1 --yes --help"},
           {"settings", "help settings set"},
           {"firmware", "firmware pack image.bin out.dat --firmware-version 0x0401 --help"},
           {"csv", "csv in.ulk out.csv --help"},
           {"plot", "plot in.ulk out.png --help"},
           {"clear", "clear --yes --help"},
           {"fire", "fire --yes -h"},
       })
    forms.push_back(form);

  for (const Form& form : forms) {
    SCOPED_TRACE(form.args);
    ToolRun run = Tool(MarkingDevice() + form.args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("usage: ulktool " + form.command, 0), 0u) << run.out;
    EXPECT_EQ(run.err, "");
    EXPECT_FALSE(DeviceStarted());
    EXPECT_TRUE(fs::is_empty(Cwd()));
  }
}

TEST_F(ToolConventionsTest, VersionAndTheEndOfTheOptions) {
  ToolRun version = Tool(MarkingDevice() + "--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "ulktool (" + ToUtf8(kProgramTitle) + ")\n");
  EXPECT_FALSE(DeviceStarted());

  // After "--" a name that looks like an option is a name.
  ToolRun download = Tool(kSim + "download -- --help");
  EXPECT_EQ(download.status, 0) << download.err;
  EXPECT_TRUE(fs::exists(Cwd() / "--help" / "flight-1.ulk"));
  EXPECT_EQ(download.out.rfind("Saved --help/flight-1.ulk\n", 0), 0u) << download.out;

  for (const std::string& args : {std::string("nosuch"), std::string("download"), std::string("help nosuch"),
                                  std::string("download a b"), std::string("logbook --json --csv a")}) {
    SCOPED_TRACE(args);
    ToolRun run = Tool(MarkingDevice() + args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("ulktool: "), std::string::npos);
    EXPECT_FALSE(DeviceStarted());
  }
}

TEST_F(ToolConventionsTest, DownloadIntoAPipeGivesTheSavedFilesAndTheCountOnly) {
  ToolRun run = Tool(kSim + "download flights --csv");
  ASSERT_EQ(run.status, 0) << run.err;
  std::string expected;
  size_t packets = 0;
  for (int k = 1; k <= 3; ++k) {
    const std::string name = "flights/flight-" + std::to_string(k);
    expected += "Saved " + name + ".ulk\nSaved " + name + ".csv\n";
    CAltimeter saved;
    ASSERT_TRUE(saved.LoadDataSet((Cwd() / (name + ".ulk")).wstring()));
    packets += saved.packets.size();
  }
  EXPECT_EQ(run.out, expected + "Packets Read: " + std::to_string(packets) + "\n");
  // How it went is on standard error, without a line or a bar a packet.
  EXPECT_NE(run.err.find("Device Connected.\n"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("Packet Read"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find('\r'), std::string::npos);
}

TEST_F(ToolConventionsTest, OnATerminalTheBarIsDrawnOnStandardError) {
  // `script` gives the tool a terminal for standard error; standard output goes to a file.
  const fs::path typescript = File("terminal.txt"), out = File("terminal-out.txt");
  const std::string inner =
      "cd " + Cwd().string() + " && " ULKTOOL_PATH " " + kSim + "download flights >" + out.string();
  const std::string command = "script -qec \"" + inner + "\" " + Quoted(typescript) + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string terminal = ReadFileBytes(typescript);
  EXPECT_TRUE(std::regex_search(terminal, std::regex("\r\\[#*\\.*\\] packet 1 of at most 1520\r\\[")))
      << terminal;
  // The status line after the bar starts a line of its own.
  EXPECT_NE(terminal.find(" of at most 1520\r\nData read successfully."), std::string::npos) << terminal;
  EXPECT_EQ(terminal.find("Saved "), std::string::npos);
  const std::string saved = ReadFileBytes(out);
  EXPECT_EQ(saved.rfind("Saved flights/flight-1.ulk\n", 0), 0u) << saved;
  EXPECT_EQ(saved.find("packet"), std::string::npos);
}

// Each command that takes a file takes "-" for standard input or output, and
// gives the same bytes as with a file.
TEST_F(ToolConventionsTest, DashIsStandardInputOrOutputWhereverAFileGoes) {
  const std::string flight = FixturePath("small-flight.ulk").string();
  std::string image;
  for (int i = 0; i < 3000; ++i) image += static_cast<char>(i * 7 % 251);
  WriteFileBytes(File("image.bin"), image);
  ASSERT_EQ(Tool("firmware pack " + Quoted(File("image.bin")) + " " + Quoted(File("app.dat")) +
                 " --firmware-version 0x0401")
                .status,
            0);
  ASSERT_EQ(Tool(kSim + "settings --save " + Quoted(File("defaults.settings"))).status, 0);

  struct Case {
    std::string streamArgs;  // with "-"
    std::string input;       // standard input of the stream form, or ""
    std::string streamResult;  // the file it writes, or "" for standard output
    std::string fileArgs;
    std::string fileResult;
  };
  const std::string f = Quoted(flight), r = File("r").string(), s = File("s").string();
  const Case cases[] = {
      {"csv " + f + " -", "", "", "csv " + f + " " + r, r},
      {"csv - " + s, flight, s, "csv " + f + " " + r, r},
      {"xml " + f + " -", "", "", "xml " + f + " " + r, r},
      {"xml - " + s, flight, s, "xml " + f + " " + r, r},
      {"plot " + f + " - --size 320x200", "", "", "plot " + f + " " + r + " --size 320x200", r},
      {"plot - " + s + " --size 320x200", flight, s, "plot " + f + " " + r + " --size 320x200", r},
      {"info -", flight, "", "info " + f, ""},
      {"info --json -", flight, "", "info --json " + f, ""},
      {kSim + "emulate -", flight, "", kSim + "emulate " + f, ""},
      {"firmware pack - - --firmware-version 0x0401", File("image.bin"), "",
       "firmware pack " + Quoted(File("image.bin")) + " " + r + " --firmware-version 0x0401", r},
      {"firmware info -", File("app.dat"), "", "firmware info " + Quoted(File("app.dat")), ""},
      {"--device sim:clock=virtual,image=" + s + " update -", File("app.dat"), s,
       "--device sim:clock=virtual,image=" + r + " update " + Quoted(File("app.dat")), r},
      {kSim + "settings --save -", "", "", kSim + "settings --save " + r, r},
      {kSim + "settings --load - --yes", File("defaults.settings"), "",
       kSim + "settings --load " + Quoted(File("defaults.settings")) + " --yes", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.streamArgs);
    fs::remove(r);
    fs::remove(s);
    ToolRun byFile = Tool(c.fileArgs);
    ASSERT_EQ(byFile.status, 0) << byFile.err;
    const std::string expected = c.fileResult.empty() ? byFile.out : ReadFileBytes(c.fileResult);
    ToolRun byStream = Tool(c.streamArgs, c.input.empty() ? fs::path("/dev/null") : fs::path(c.input));
    ASSERT_EQ(byStream.status, 0) << byStream.err;
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(c.streamResult.empty() ? byStream.out : ReadFileBytes(c.streamResult), expected);
    EXPECT_FALSE(fs::exists(Cwd() / "-"));
  }

  // The logbook names the file it read from standard input "-".
  ToolRun byFile = Tool("logbook --csv " + f);
  ToolRun byStream = Tool("logbook --csv -", flight);
  ASSERT_EQ(byStream.status, 0) << byStream.err;
  EXPECT_EQ(byStream.out, std::regex_replace(byFile.out, std::regex(flight), "-"));
}

TEST_F(ToolConventionsTest, EveryDeviceCommandExitsWithThreeWithoutADevice) {
  WriteFileBytes(File("image.bin"), std::string(600, '\x5a'));
  ASSERT_EQ(Tool("firmware pack " + Quoted(File("image.bin")) + " " + Quoted(File("app.dat")) +
                 " --firmware-version 0x0401")
                .status,
            0);
  std::ostringstream settings;
  WriteSettingsFile(settings, SettingsRecord{});
  WriteFileBytes(File("rocket.settings"), settings.str());
  const std::string flight = Quoted(FixturePath("small-flight.ulk"));
  const std::string saved = File("saved.settings").string();
  const std::vector<std::string> commands = {
      "devices", "settings", "settings --json", "settings --save " + saved,
      "settings --load " + Quoted(File("rocket.settings")) + " --yes", "settings set lineAMode=1 --yes", "altitude",
      "voltage", "fire --yes", "clear --yes", "reset-settings --yes", "bootloader", "download flights",
      "emulate " + flight, "update " + Quoted(File("app.dat")), "leave-bootloader"};
  for (const std::string& args : commands) {
    SCOPED_TRACE(args);
    ToolRun run = Tool(kNoDevice + args);
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(" not found."), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(saved));
    EXPECT_FALSE(fs::exists(Cwd() / "flights" / "flight-1.ulk"));
  }
  // A script reading JSON still gets JSON.
  ToolRun json = Tool(kNoDevice + "devices --json");
  EXPECT_EQ(json.status, 3);
  EXPECT_EQ(json.out, "[]\n");
}

TEST_F(ToolConventionsTest, JsonThatAParserReadsWithEveryKeyAlways) {
  CAltimeter flight;
  ASSERT_TRUE(flight.LoadDataSet(FixturePath("small-flight.ulk").wstring()));
  struct Case {
    const char* name;
    std::string comment;  // the bytes in the file
    std::string read;     // what the parser gives
  };
  const Case cases[] = {
      {"utf8.ulk", "Windy, \"gusty\"\n\xC3\xBC" "ber the field \xE2\x9C\x93",
       "Windy, \"gusty\"\n\xC3\xBC" "ber the field \xE2\x9C\x93"},
      {"latin1.ulk", "caf\xE9 \xB0" "C", "caf\xC3\xA9 \xC2\xB0" "C"},
  };
  std::vector<std::string> keys;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    flight.comments = {c.comment};
    ASSERT_TRUE(flight.SaveDataSet(File(c.name).wstring(), 0));
    ToolRun run;
    nlohmann::json info = JsonOf("info --json " + Quoted(File(c.name)), run);
    ASSERT_TRUE(info.is_object()) << run.out;
    EXPECT_EQ(info["comment"], c.read);
    EXPECT_EQ(info["apogeeAgl"], 35.5);
    keys.clear();
    for (auto it = info.begin(); it != info.end(); ++it) keys.push_back(it.key());
  }

  // A set without samples: the same keys, null where there is no value.
  CAltimeter empty;
  empty.packets = {MakePacket(kSetStartType)};
  ASSERT_TRUE(empty.SaveDataSet(File("empty.ulk").wstring(), 0));
  ToolRun run;
  nlohmann::json info = JsonOf("info --json " + Quoted(File("empty.ulk")), run);
  ASSERT_TRUE(info.is_object()) << run.out;
  std::vector<std::string> emptyKeys;
  for (auto it = info.begin(); it != info.end(); ++it) emptyKeys.push_back(it.key());
  EXPECT_EQ(emptyKeys, keys);
  EXPECT_EQ(info["samples"], 0);
  for (const char* key : {"groundAltitudeMsl", "apogeeAgl", "apogeeTime", "maxVelocity", "maxVelocityTime",
                          "lineAFirstFired", "lineBFirstFired", "batteryMin", "temperatureMin", "temperatureMax"})
    EXPECT_TRUE(info[key].is_null()) << key;

  // settings and devices, from the simulator.
  ToolRun settings;
  nlohmann::json record = JsonOf(kSim + "settings --json", settings);
  ASSERT_TRUE(record.is_object()) << settings.out;
  EXPECT_EQ(record["settingsValid"], true);
  EXPECT_EQ(record["settingsPacket"], "013c001400500000329600960000000400001414e902");
  EXPECT_EQ(record["settings"]["lineAMode"], 2);
  EXPECT_EQ(record["settings"], info["settings"]);  // the same defaults in the same form
  ToolRun devices;
  nlohmann::json list = JsonOf("--device sim:two,clock=virtual devices --json", devices);
  ASSERT_TRUE(list.is_array()) << devices.out;
  ASSERT_EQ(list.size(), 2u);
  for (const auto& device : list) {
    EXPECT_EQ(device["mode"], "application");
    EXPECT_EQ(device["version"], "4.05");
    EXPECT_EQ(device["compatible"], true);
    EXPECT_TRUE(device["path"].is_string());
  }
}

// A packet as the settings fixture takes it: "01 3c ...".
std::string SpacedHex(const SettingsPacket& packet) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : packet) hex += std::string(hex.empty() ? "" : " ") + digits[b >> 4] + digits[b & 15];
  return hex;
}

TEST_F(ToolConventionsTest, SettingsSavedOneDayAreTheDevicesRecordAnother) {
  SettingsRecord rocket;
  rocket.lineAMode = Time;
  rocket.lineAValue = 30;
  rocket.lineBDelay = 7;
  rocket.imperialUnits = true;
  rocket.altitudeOffset = -5;
  rocket.minBattery = 140;
  rocket.BuildPacket();
  const std::string deviceA = "--device 'exec:" + kSettingsDevice + " normal \"" + SpacedHex(rocket.packet) + "\"' ";
  ToolRun listing = Tool(deviceA + "settings");
  ASSERT_EQ(listing.status, 0) << listing.err;
  ASSERT_NE(listing.out.find("lineAValue = 30\n"), std::string::npos) << listing.out;

  ToolRun save = Tool(deviceA + "settings --save rocket-a.settings");
  ASSERT_EQ(save.status, 0) << save.err;
  EXPECT_EQ(save.out, "Saved rocket-a.settings\n");

  // Another device, another day: the same record is on it, read back.
  for (const std::string& deviceB : {kSim, "--device 'exec:" + kSettingsDevice + "' "}) {
    SCOPED_TRACE(deviceB);
    ToolRun load = Tool(deviceB + "settings --load rocket-a.settings --yes");
    EXPECT_EQ(load.status, 0) << load.err;
    EXPECT_EQ(load.out, listing.out);
    EXPECT_NE(load.err.find("Clearing data... please wait a few seconds.\nData cleared.\nWriting settings...\n"
                            "Settings written successfully.\n"),
              std::string::npos)
        << load.err;
  }

  // Without --yes the device is not touched.
  ToolRun unasked = Tool(MarkingDevice() + "settings --load rocket-a.settings");
  EXPECT_EQ(unasked.status, 2);
  EXPECT_NE(unasked.err.find("Writing settings will clear all flight data."), std::string::npos);
  EXPECT_FALSE(DeviceStarted());
}

TEST_F(ToolConventionsTest, ADamagedOrForeignSettingsFileIsRefusedBeforeTheDevice) {
  std::ostringstream text;
  WriteSettingsFile(text, SettingsRecord{});
  const std::string good = text.str();
  auto replaced = [&good](const std::string& from, const std::string& to) {
    return std::regex_replace(good, std::regex(from), to);
  };
  SettingsRecord outOfRange;
  outOfRange.lineAMode = 6;
  std::ostringstream rangeText;
  WriteSettingsFile(rangeText, outOfRange);  // its checksum fits its fields

  struct Case {
    const char* name;
    std::string bytes;
    const char* told;
  };
  const Case cases[] = {
      {"a digit changed", replaced("lineAValue = 150", "lineAValue = 151"), "does not match its settings"},
      {"a line lost", replaced("lineBDelay = 0\n", ""), "lineBDelay is missing"},
      {"cut short", good.substr(0, good.find("lineAValue")), "lineAValue is missing"},
      {"no checksum", replaced("checksum = .*\n", ""), "the checksum is missing"},
      {"a data set file", ReadFileBytes(FixturePath("small-flight.ulk")), "not a settings file"},
      {"empty", "", "not a settings file"},
      {"a later format", replaced("settings 1", "settings 2"), "a format this version does not know"},
      {"a field twice", good + "lineAMode = 2\n", "lineAMode appears a second time"},
      {"an unknown field", replaced("deviceFlag", "deviceFlags"), "unknown setting \"deviceFlags\""},
      {"out of range", rangeText.str(), "lineAMode must be a whole number from 0 to 5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(File("bad.settings"), c.bytes);
    for (const std::string& source : {"settings --load " + Quoted(File("bad.settings")) + " --yes",
                                      std::string("settings --load - --yes")}) {
      ToolRun run = Tool(MarkingDevice() + source, File("bad.settings"));
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.out, "");
      EXPECT_NE(run.err.find(c.told), std::string::npos) << run.err;
      EXPECT_NE(run.err.find("nothing was written to the device"), std::string::npos) << run.err;
      EXPECT_FALSE(DeviceStarted());
    }
  }
  // The good one, with notes and Windows line ends, is taken.
  const std::string noted = std::regex_replace(good, std::regex("\n"), "\n# rocket A, 38 mm motor\n\n",
                                               std::regex_constants::format_first_only);
  WriteFileBytes(File("good.settings"), std::regex_replace(noted, std::regex("\n"), "\r\n"));
  ToolRun run = Tool(kSim + "settings --load " + Quoted(File("good.settings")) + " --yes");
  EXPECT_EQ(run.status, 0) << run.err;
}

}  // namespace
