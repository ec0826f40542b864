// ulktool emulate, run as the user runs it, on the simulator's virtual clock.
#include <cmath>
#include <string>
#include <vector>

#include "tests/TestSupport.h"
#include "tests/simulator/TestFlight.h"

namespace {

class EmulateToolTest : public ::testing::Test {
 protected:
  // The flight saved as a data set file, as a download would have stored it.
  std::string SaveFlight(const std::vector<double>& msl) {
    CAltimeter altimeter;
    for (size_t i = 0; i < msl.size(); ++i) {
      if (i % kSamplesPerPacket == 0) {
        altimeter.packets.emplace_back();
        altimeter.packets.back().type = altimeter.packets.size() == 1 ? kSetStartType : 0;
        altimeter.packets.back().samples.fill(kNoSample);
      }
      uint32_t tenths = static_cast<uint32_t>(std::lround(msl[i] * 10)) & 0xFFFFF;
      altimeter.packets.back().samples[i % kSamplesPerPacket] = tenths | (84u << 20);
    }
    altimeter.comments = {"emulation test"};
    EXPECT_TRUE(altimeter.SaveDataSet(dir.WidePath("flight.ulk"), 0));
    return dir.Path("flight.ulk");
  }

  ScratchDir dir;
};

TEST_F(EmulateToolTest, PrintsTheDevicesEventsBetweenTheSecondsOfTheFlight) {
  std::string file = SaveFlight(MakeTestFlight().msl);
  ToolRun run = RunTool("--device sim:clock=virtual emulate " + file);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.rfind("Device Connected.\n", 0), 0u) << run.err;
  const std::vector<std::string> out = LinesOf(run.out);
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ(out.front(), "Emulating...");
  EXPECT_EQ(out.back(), "Done.");

  std::vector<std::string> events;
  int seconds = 0, secondsBeforeLaunch = -1;
  for (size_t i = 1; i + 1 < out.size(); ++i) {
    const std::string& line = out[i];
    if (line.rfind("Launch Time (s): ", 0) == 0) {
      EXPECT_EQ(line, "Launch Time (s): " + std::to_string(seconds++));
    } else {
      if (events.empty()) secondsBeforeLaunch = seconds;
      events.push_back(line);
    }
  }
  EXPECT_EQ(events, (std::vector<std::string>{"Launch detected.", "Apogee detected.", "Line A fired.",
                                              "Line B fired.", "Device indicates end of launch."}));
  // 11.3 s of ground phase and 3 s on the pad come first.
  EXPECT_GE(secondsBeforeLaunch, 14);
  EXPECT_LE(secondsBeforeLaunch, 16);
}

TEST_F(EmulateToolTest, ExitStatuses) {
  std::string file = SaveFlight({1320.0, 1321.0});
  struct Case {
    std::string args;
    int status;
    std::string errStart;
  };
  const Case cases[] = {
      {"--device sim:clock=virtual emulate", 2, "ulktool: emulate takes one data set file"},
      {"--device sim:clock=virtual emulate " + dir.Path("missing.ulk"), 1,
       "Could not load file. Make sure the file is valid and not locked."},
      {"--device sim:clock=virtual,version=0x0310 emulate " + file, 3,
       "Device found, but has incompatible firmware version."},
      // A flight that ends on the pad: the data runs out and the reset ends it.
      {"--device sim:clock=virtual emulate " + file, 0, "Device Connected."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    ToolRun run = RunTool(c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err.substr(0, c.errStart.size()), c.errStart);
  }
}

TEST_F(EmulateToolTest, CtrlCStopsAtTheNextRequestWithAReset) {
  std::string file = SaveFlight(MakeTestFlight().msl);
  ToolRun run = RunTool("--trace --device 'exec:sh " ULK_SOURCE_DIR
                        "/tests/fixtures/interrupting-device.sh 3' emulate " + file);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(LinesOf(run.out), (std::vector<std::string>{"Emulating...", "Launch Time (s): 0", "Done."}));
  // The request in hand when the stop is seen is answered by the reset alone.
  size_t stop = run.err.find("User ended emulation.\nReseting device.\n");
  ASSERT_NE(stop, std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("The device is requesting", stop), std::string::npos);
  // The signal lands before the device's next request is handled, or at worst one later.
  int requests = 0;
  for (size_t at = 0; (at = run.err.find("The device is requesting ADC data. Data: 1320\n", at)) < stop; ++at)
    ++requests;
  EXPECT_GE(requests, 4);
  EXPECT_LE(requests, 5);
}

TEST_F(EmulateToolTest, ADeviceThatFloodsRequestsAndNeverReadsEndsInAFailedWrite) {
  // Long enough that the samples outlast what the device's input can hold.
  std::string file = SaveFlight(std::vector<double>(2000, 1320.0));
  // A write that waited for ever would hang the tool (and a signal would not
  // stop it): the time limit turns that into a failure here.
  ToolRun run = RunTool("--trace --device 'exec:sh " ULK_SOURCE_DIR "/tests/fixtures/flooding-device.sh' emulate " +
                            file,
                        "timeout -k 5 60 ");
  EXPECT_EQ(run.status, 1) << run.err.substr(run.err.size() > 2000 ? run.err.size() - 2000 : 0);
  const std::vector<std::string> out = LinesOf(run.out);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), "Failed.");
  EXPECT_NE(run.err.find("1320\nWrite Error\n"), std::string::npos);
}

}  // namespace
