// ulktool's firmware commands, run as the user runs them.
#include <string>
#include <vector>

#include "tests/TestSupport.h"
#include "tests/firmware/FirmwareFixture.h"

namespace {

TEST(FirmwareToolTest, PackAndUpdateProgramTheDeviceFromItsApplicationFirmware) {
  ScratchDir dir;
  std::vector<uint8_t> image = PatternImage(1000);
  std::fill_n(image.begin() + 64, 64, uint8_t{0xFF});
  WriteFileBytes(dir.Path("image.bin"), image);

  ToolRun pack =
      RunTool("firmware pack " + dir.Path("image.bin") + " " + dir.Path("a.dat") + " --firmware-version 0x0401");
  ASSERT_EQ(pack.status, 0) << pack.err;
  ToolRun info = RunTool("firmware info " + dir.Path("a.dat"));
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.out,
            "File version: 1.00\nRequired bootloader version: 4.00\nFirmware version: 4.01\nLength: 1000\n"
            "Blocks: 0 to 15, 15 programmed (0, 2-15)\n");

  ToolRun update =
      RunTool("--device sim:clock=virtual,image=" + dir.Path("flash.bin") + " update " + dir.Path("a.dat"));
  EXPECT_EQ(update.status, 0) << update.err;
  // The outcome on standard output; how it went on standard error, without
  // the percentages where standard error is no terminal.
  EXPECT_EQ(update.out, "New firmware version: 4.01\nFirmware updated successfully.\n");
  EXPECT_EQ(update.err,
            "Device found, but is not in bootloader mode.\n"
            "Device connected in bootloader mode.\nDevice bootloader version: 4.00\nUpdating firmware...\n");
  // The simulated device kept what it was given: the packed image over erased flash.
  image.resize(kFirmwareImageSize, 0xFF);
  EXPECT_EQ(ReadFileBytes<std::vector<uint8_t>>(dir.Path("flash.bin")), image);
}

struct ToolCase {
  const char* name;
  const char* scenario;
  const char* packOptions;  // nullptr: the file is written by hand
  std::vector<uint8_t> rawFile;
  bool fileProblem;    // told before the device is looked at
  std::string lines;  // before "Failed to update firmware."
};

TEST(FirmwareToolTest, EveryFailureIsToldWithItsLines) {
  const std::string removed =
      "This was most likely caused by prematurely removing the device.\nPlease reconnect and try again.\n";
  std::vector<uint8_t> wrongMagic = FirmwareHeader();
  wrongMagic[0] = 0;
  std::vector<uint8_t> truncated = FirmwareHeader();
  truncated.resize(5000, 0x4D);
  const ToolCase cases[] = {
      {"no file", "", nullptr, {}, true, "The file could not be opened.\n"},
      {"not a firmware file", "", nullptr, wrongMagic, true, "This is not a valid firmware file.\n"},
      {"length past the image", "", "--firmware-version 0x0401 --length 131073", {}, true,
       "This is not a valid firmware file.\n"},
      {"format 1.01", "", "--firmware-version 0x0401 --format-version 0x0101", {}, true,
       "Incorrect file version.\nFile version: 1.01\nExpected version: 1.00\n"},
      {"firmware 5.00", "", "--firmware-version 0x0500", {}, true,
       "The firmware version is not intended for use with this software version.\n"
       "New firmware version: 5.00\nExpected version: 4.00\n"},
      {"bootloader 4.10", "", "--firmware-version 0x0401 --bootloader-version 0x0410", {}, true,
       "The firmware version is not intended for use with this bootloader version.\n"
       "Your device bootloader version: 4.00\nExpected version: 4.10\n"},
      {"hardware 3.00", ",hardware-version=0x0300", "--firmware-version 0x0401", {}, false,
       "The firmware version is not intended for use with your hardware version.\n"
       "Your hardware version: 3.00\nExpected version: 4.00\n"},
      {"erase not answered", ",erase-silent", "--firmware-version 0x0401", {}, false,
       "There was a timeout on a read operation.\n" + removed},
      {"removed while programming", ",unplug-at-block=0", "--firmware-version 0x0401", {}, false,
       "There was a timeout on a read operation.\n" + removed},
      {"block refused", ",refuse-block=0", "--firmware-version 0x0401", {}, false,
       "There was a protocol error.\n" + removed},
      {"file ends early", "", nullptr, truncated, true, "There was a protocol error.\n" + removed},
  };
  for (const ToolCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    if (c.packOptions) {
      WriteFileBytes(dir.Path("image.bin"), PatternImage(500));
      ASSERT_EQ(
          RunTool("firmware pack " + dir.Path("image.bin") + " " + dir.Path("f.dat") + " " + c.packOptions).status, 0);
    } else if (!c.rawFile.empty()) {
      WriteFileBytes(dir.Path("f.dat"), c.rawFile);
    }
    ToolRun run = RunTool(std::string("--device sim:clock=virtual") + c.scenario + " update " + dir.Path("f.dat"));
    EXPECT_EQ(run.status, 1) << run.err;
    // Failures are told on standard error only.
    EXPECT_EQ(run.out, "");
    if (c.fileProblem) {
      // The application firmware was left alone: not sent into its bootloader.
      EXPECT_EQ(run.err, c.lines + "Failed to update firmware.\n");
    } else {
      const std::string told = "Updating firmware...\n" + c.lines + "Failed to update firmware.\n";
      EXPECT_EQ(run.err.rfind("Device found, but is not in bootloader mode.\n", 0), 0u) << run.err;
      ASSERT_GE(run.err.size(), told.size());
      EXPECT_EQ(run.err.substr(run.err.size() - told.size()), told);
    }
  }
}

TEST(FirmwareToolTest, NoBootloaderToReach) {
  ScratchDir dir;
  WriteFileBytes(dir.Path("image.bin"), PatternImage(500));
  ASSERT_EQ(
      RunTool("firmware pack " + dir.Path("image.bin") + " " + dir.Path("f.dat") + " --firmware-version 0x0401").status,
      0);
  const std::pair<const char*, const char*> cases[] = {
      {"version=0x0310", "Device found, but is not in bootloader mode.\n"},
      {"bootloader,bootloader-version=0x0300", "Device found in bootloader mode, but has incompatible"},
  };
  for (const auto& [scenario, told] : cases) {
    SCOPED_TRACE(scenario);
    ToolRun run = RunTool(std::string("--device sim:clock=virtual,") + scenario + " update " + dir.Path("f.dat"));
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind(told, 0), 0u) << run.err;
    EXPECT_NE(run.err.find("Altimeter not found. Make sure it is properly connected to the PC.\n"), std::string::npos);
  }
}

TEST(FirmwareToolTest, LeaveBootloaderSendsTheDeviceBack) {
  ScratchDir dir;
  EXPECT_EQ(RunTool("--device sim:clock=virtual,bootloader leave-bootloader").status, 0);
  ToolRun none = RunTool("--device sim:clock=virtual leave-bootloader");
  EXPECT_EQ(none.status, 3);
  EXPECT_EQ(RunTool("firmware pack only-one-argument").status, 2);
}

}  // namespace
