// The firmware update through the recording host on the simulated
// bootloader: its events in order, each refusal of the device, and every
// fault at every position of its exchange.
#include "firmware/UpdateTask.h"
#include "tests/TaskTestSupport.h"
#include "tests/firmware/FirmwareFixture.h"

namespace {

using Events = std::vector<std::string>;

constexpr int kOk = UpdateOk;

class UpdateTaskTest : public TaskTest {
 protected:
  void SetUp() override {
    // Three blocks to program, one left erased between them.
    std::vector<uint8_t> image = PatternImage(4 * kFirmwareBlockSize);
    std::fill(image.begin() + kFirmwareBlockSize, image.begin() + 2 * kFirmwareBlockSize, uint8_t{0xFF});
    ASSERT_TRUE(WriteFirmwareFile(dir_.WidePath("f.dat"), image, static_cast<int32_t>(image.size()), 0x0400, 0x0401));
    path_ = dir_.WidePath("f.dat");
  }
  int Update(RecordingHost& host) {
    UpdateProgressLines lines;
    return UpdateFirmwareTask(Alt(), host, path_, lines);
  }

  ScratchDir dir_;
  std::wstring path_;
};

const Events kFailedLines = {"status: There was a protocol error.",
                             "status: This was most likely caused by prematurely removing the device.",
                             "status: Please reconnect and try again.", "idle", "status: Failed to update firmware."};

TEST_F(UpdateTaskTest, AnUpdateTellsItsProgressAndTheNewVersion) {
  Fresh("bootloader", true);
  RecordingHost host;
  EXPECT_EQ(Update(host), UpdateOk);
  EXPECT_EQ(host.Events(), (Events{"status: Updating firmware...", "progress: 20%", "progress: 50%",
                                   "progress: 70%", "progress: 100%",
                                   "result: New firmware version: 4.01", "result: Firmware updated successfully.",
                                   "idle"}));

  Fresh("bootloader", true);
  Alt().Close();
  RecordingHost none;
  EXPECT_EQ(Update(none), UpdateChannelNotOpened);
  EXPECT_EQ(none.Events(),
            (Events{"idle", "status: Altimeter not found. Make sure it is properly connected to the PC."}));
}

TEST_F(UpdateTaskTest, ADeviceThatRefusesTheEraseOrABlockIsAFailure) {
  struct Case {
    const char* name;
    std::function<void(SimFaults&)> fault;
    int result;
  };
  const Case cases[] = {
      // The erase's answer is the second; a wrong byte in it is a refusal.
      {"erase refused", [](SimFaults& f) { f.codeAt = 1, f.replyCode = 0; }, UpdateProtocolError},
      {"block refused", [](SimFaults& f) { f.refuseBlock = 2; }, UpdateProtocolError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh("bootloader", true);
    c.fault(Device().faults);
    RecordingHost host;
    EXPECT_EQ(Update(host), c.result);
    const Events events = host.Events();
    ASSERT_GE(events.size(), kFailedLines.size());
    EXPECT_EQ(Events(events.end() - static_cast<std::ptrdiff_t>(kFailedLines.size()), events.end()), kFailedLines);
    for (const std::string& e : events) EXPECT_NE(e, "result: Firmware updated successfully.");
  }
}

TEST_F(UpdateTaskTest, EveryFaultAtEveryPositionOfAnUpdate) {
  Sweep([this](RecordingHost& h) { return Update(h); },
        [](const Events& clean) {
          const size_t updating = After(clean, "status: Updating firmware...");
          const Events timeout = {"status: There was a timeout on a read operation.",
                                  "status: This was most likely caused by prematurely removing the device.",
                                  "status: Please reconnect and try again.", "idle",
                                  "status: Failed to update firmware."};
          const Events hardware = {"status: The firmware version is not intended for use with your hardware version.",
                                   "status: Your hardware version: 4.63", "status: Expected version: 4.00", "idle",
                                   "status: Failed to update firmware."};
          // Progress lines are left out of the comparison: a failure may come after any of them.
          return std::vector<FailingStep>{{"the hardware version", updating, updating, hardware, UpdateWrongHardwareVersion},
                                          {"timeout", updating, updating, timeout, UpdateIoError},
                                          {"protocol", updating, updating, kFailedLines, UpdateProtocolError}};
        },
        kOk, "bootloader", true,
        {TaskFault::NoReply, TaskFault::WrongCode, TaskFault::Removal, TaskFault::LateReply, TaskFault::FailedWrite});
}

}  // namespace
