#include <regex>
#include <sstream>

#include "settings/SettingsRecord.h"
#include "tests/TestSupport.h"

namespace {

const std::string kSim = "--device sim:clock=virtual ";
const std::string kExec = "--device 'exec:sh " ULK_SOURCE_DIR "/tests/fixtures/settings-device.sh' ";

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// What `settings` prints for a record, from the record itself.
std::string Listing(SettingsRecord r) {
  std::ostringstream out;
  out << "packet:";
  static const char digits[] = "0123456789abcdef";
  for (uint8_t b : r.packet) out << ' ' << digits[b >> 4] << digits[b & 15];
  out << "\nchecksum: valid\n"
      << "deviceFlag = " << r.deviceFlag << "\ndeviceParam1 = " << r.deviceParam1
      << "\nmachInhibit = " << r.machInhibit << "\nminBattery = " << int{r.minBattery}
      << "\naltitudeOffset = " << r.altitudeOffset << "\nlineAMode = " << int{r.lineAMode}
      << "\nlineBMode = " << int{r.lineBMode} << "\nlineAValue = " << r.lineAValue
      << "\nlineBValue = " << r.lineBValue << "\nimperialUnits = " << r.imperialUnits
      << "\ndeviceParam2 = " << r.deviceParam2 << "\nlineADelay = " << int{r.lineADelay}
      << "\nlineBDelay = " << int{r.lineBDelay} << "\nlineAOnTime = " << int{r.lineAOnTime}
      << "\nlineBOnTime = " << int{r.lineBOnTime} << "\n";
  return out.str();
}

}  // namespace

TEST(SettingsToolTest, SettingsPrintsTheDevicePacketAndItsFields) {
  for (const std::string& device : {kSim, kExec}) {
    SCOPED_TRACE(device);
    ToolRun run = RunTool(device + "settings");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(FirstLine(run.out), "packet: 01 3c 00 14 00 50 00 00 32 96 00 96 00 00 00 04 00 00 14 14 e9 02");
    EXPECT_EQ(run.out, Listing(SettingsRecord{}));
  }
}

TEST(SettingsToolTest, SettingsSetClearsWritesAndShowsTheReadBack) {
  SettingsRecord expected;
  expected.lineAMode = Time;
  expected.lineAValue = 30;
  expected.imperialUnits = true;
  expected.altitudeOffset = -5;
  expected.minBattery = 140;
  expected.BuildPacket();
  for (const std::string& device : {kSim, kExec}) {
    SCOPED_TRACE(device);
    ToolRun run = RunTool(device +
                          "settings set lineAMode=1 lineAValue=30 imperialUnits=1 altitudeOffset=-5 minBattery=140 --yes");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, Listing(expected));
    EXPECT_NE(run.err.find("Clearing data... please wait a few seconds.\nData cleared.\nWriting settings...\n"
                           "Settings written successfully.\n"),
              std::string::npos)
        << run.err;
  }
}

TEST(SettingsToolTest, AnInvalidPacketIsShownAsReadAndReplacedByTheDefaultsBeforeAChange) {
  const std::string corrupt = "--device 'exec:sh " ULK_SOURCE_DIR "/tests/fixtures/settings-device.sh corrupt' ";
  ToolRun read = RunTool(corrupt + "settings");
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(read.out.substr(0, read.out.find("deviceFlag")),
            "packet: 01 3c 00 14 00 50 00 00 32 96 00 96 00 00 00 04 00 00 14 14 ea 02\nchecksum: invalid\n");

  SettingsRecord expected;
  expected.lineBValue = 200;
  expected.BuildPacket();
  ToolRun set = RunTool(corrupt + "settings set lineBValue=200 --yes");
  EXPECT_EQ(set.status, 0) << set.err;
  EXPECT_NE(set.err.find("Checksum failed. The device settings are invalid.\nDisplaying default settings.\n"),
            std::string::npos)
      << set.err;
  EXPECT_EQ(set.out, Listing(expected));
}

TEST(SettingsToolTest, RefusesWithoutYesOrOutOfRangeBeforeTouchingTheDevice) {
  struct Case {
    const char* args;
    const char* message;  // on standard error
  };
  const Case cases[] = {
      {"settings set lineAMode=1", "Writing settings will clear all flight data.\n"},
      {"reset-settings", "Writing settings will clear all flight data.\n"},
      {"clear", "Writing settings will clear all flight data.\n"},
      {"fire", "run it with --yes"},
      {"settings set lineAMode=6 --yes", "lineAMode must be a whole number from 0 to 5"},
      {"settings set minBattery=141 --yes", "minBattery must be a whole number from 0 to 140"},
      {"settings set altitudeOffset=40000 --yes", "altitudeOffset must be a whole number from -32768 to 32767"},
      {"settings set lineADelay=256 --yes", "lineADelay must be a whole number from 0 to 255"},
      {"settings set machInhibit=-1 --yes", "machInhibit must be a whole number from 0 to 65535"},
      {"settings set lineBValue=1e3 --yes", "lineBValue must be a whole number from 0 to 65535"},
      {"settings set imperialUnits= --yes", "imperialUnits must be a whole number from 0 to 1"},
      {"settings set lineAmode=1 --yes", "unknown setting \"lineAmode\""},
      {"settings set lineAMode --yes", "expected NAME=VALUE"},
      {"settings set --yes", "needs at least one NAME=VALUE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    ToolRun run = RunTool(kSim + "--trace " + c.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Device Connected."), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Resetting device"), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty());
  }
  EXPECT_EQ(FirstLine(RunTool(kSim + "clear").err), "Writing settings will clear all flight data.");
}

TEST(SettingsToolTest, AltitudeAndVoltageLines) {
  ToolRun altitude = RunTool("--device sim:ground=1000,clock=virtual altitude");
  EXPECT_EQ(altitude.status, 0) << altitude.err;
  std::smatch m;
  ASSERT_TRUE(std::regex_match(altitude.out, m,
                               std::regex("Current MSL Altitude: ([0-9.]+) m / ([0-9.]+) ft\\. \n")))
      << altitude.out;
  EXPECT_NEAR(std::stod(m[1]), 1000.0, 0.51);
  EXPECT_NEAR(std::stod(m[2]), std::stod(m[1]) / 0.3048, 0.01);

  ToolRun sim = RunTool(kSim + "voltage");
  EXPECT_EQ(sim.status, 0) << sim.err;
  EXPECT_EQ(sim.out, "Current Voltage: 8.4 Volts\n");
  ToolRun execAltitude = RunTool(kExec + "altitude");
  EXPECT_EQ(execAltitude.status, 0) << execAltitude.err;
  EXPECT_EQ(execAltitude.out, "Current MSL Altitude: 1320 m / 4330.71 ft. \n");
  ToolRun exec = RunTool(kExec + "voltage");
  EXPECT_EQ(exec.status, 0) << exec.err;
  EXPECT_EQ(exec.out, "Current Voltage: 9.3 Volts\n");
}

TEST(SettingsToolTest, DeviceActions) {
  struct Case {
    const char* args;
    const char* out;  // the start of standard output
  };
  const Case cases[] = {
      {"fire --yes", "Done.\n"},
      {"clear --yes", "Data cleared successfully.\n"},
      {"reset-settings --yes", "packet: 01 3c 00 14 00 50 00 00 32 96 00 96 00 00 00 04 00 00 14 14 e9 02\n"},
      {"bootloader", "Device connected in bootloader mode.\nDevice bootloader version: 4.00\n"},
  };
  for (const Case& c : cases) {
    for (const std::string& device : {kSim, kExec}) {
      // The script does not play the bootloader.
      if (device == kExec && std::string(c.args) == "bootloader") continue;
      SCOPED_TRACE(device + c.args);
      ToolRun run = RunTool(device + c.args);
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(run.out.rfind(c.out, 0), 0u) << run.out;
    }
  }
}

TEST(SettingsToolTest, ExitStatusesOfMissingDevicesAndFailures) {
  struct Case {
    std::string args;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"--device sim:version=0x0310,clock=virtual settings", 3,
       "Altimeter not found. Make sure it is properly connected to the PC.\n"},
      {"--device sim:bootloader,clock=virtual voltage", 3,
       "Altimeter not found. Make sure it is properly connected to the PC.\n"},
      {"--device 'exec:sh " ULK_SOURCE_DIR "/tests/fixtures/settings-device.sh truncated' settings", 1,
       "Failed to read settings.\n"},
      {"--device 'exec:sh " ULK_SOURCE_DIR "/tests/fixtures/settings-device.sh truncated' altitude", 1,
       "Failed to read settings.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    ToolRun run = RunTool(c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
  }
}
