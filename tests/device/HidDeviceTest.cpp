#include "device/HidDevice.h"

#include "tests/TestSupport.h"

namespace {

// A device model that answers each write with queued replies the test sets.
class ScriptedDevice : public SimDeviceModel {
 public:
  bool OnOutputReport(SimBus& bus, int slot, const std::vector<uint8_t>&) override {
    for (auto& r : replies) bus.QueueReport(slot, r, 0);
    replies.clear();
    return true;
  }
  std::vector<std::vector<uint8_t>> replies;
};

class HidDeviceTest : public SimTest {
 protected:
  void SetUp() override {
    bus = std::make_shared<SimBus>(false);
    auto sim = std::make_shared<SimHost>(bus);
    script = std::make_shared<ScriptedDevice>();
    slot = bus->AddSlot(SimDevicePath(1, 2), 2, 0x0405, script);
    bus->Plug(slot);
    host = sim;
    InstallHidHost(sim);
    bus->recordWrites = true;
  }
  void OpenChannel(CHidDevice& d) {
    std::vector<CHidDevice> found = CHidDevice::FindDevices(2, 0x0400, 0xFFF0);
    ASSERT_EQ(found.size(), 1u);
    d.AssignDevice(found[0]);
    ASSERT_TRUE(d.Open());
  }
  std::shared_ptr<SimBus> bus;
  std::shared_ptr<ScriptedDevice> script;
  int slot = 0;
};

TEST_F(HidDeviceTest, SendCommandWritesTheFourByteReport) {
  CHidDevice d;
  OpenChannel(d);
  ASSERT_TRUE(d.SendCommand(0x1234, 9));
  ASSERT_EQ(bus->written.size(), 1u);
  EXPECT_EQ(bus->written[0].second, (std::vector<uint8_t>{0, 0x34, 0x12, 9}));
}

TEST_F(HidDeviceTest, ReceiveReplyIgnoresByteZeroAndMayOmitTheCode) {
  CHidDevice d;
  OpenChannel(d);
  script->replies = {{0x7F, 0x10, 0x27, 13}, {0x00, 0xFF, 0xFF, 5}};
  ASSERT_TRUE(d.SendCommand(0, 1));
  uint16_t value = 0;
  uint8_t code = 0;
  ASSERT_TRUE(d.ReceiveReply(value, &code, 3000));
  EXPECT_EQ(value, 10000);
  EXPECT_EQ(code, 13);
  ASSERT_TRUE(d.ReceiveReply(value, nullptr, 3000));
  EXPECT_EQ(value, 0xFFFF);
}

TEST_F(HidDeviceTest, ReadThatTimesOutLeavesTheChannelOpenAndTheNextExchangeClean) {
  CHidDevice d;
  OpenChannel(d);
  uint16_t value = 1;
  uint8_t code = 1;
  uint64_t before = bus->Now();
  EXPECT_FALSE(d.ReceiveReply(value, &code, 3000));
  EXPECT_GE(bus->Now() - before, 3000000u);  // waited the whole time-out, on the virtual clock
  EXPECT_TRUE(d.IsOpen());
  script->replies = {{0, 1, 0, 5}};
  ASSERT_TRUE(d.SendCommand(0, 1));
  ASSERT_TRUE(d.ReceiveReply(value, &code, 3000));
  EXPECT_EQ(value, 1);
  EXPECT_EQ(code, 5);
}

TEST_F(HidDeviceTest, IsOpenNeedsBothHandlesAndCloseClosesTheOneThatIsValid) {
  CHidDevice d;
  OpenChannel(d);
  CurrentHidHost().CloseHandle(d.writeHandle);  // as if only the read handle had opened
  d.writeHandle = kInvalidHidHandle;
  EXPECT_FALSE(d.IsOpen());
  d.Close();
  EXPECT_EQ(d.readHandle, kInvalidHidHandle);
  EXPECT_EQ(d.ioEvent, nullptr);
  // The read handle was really closed: the device can be opened again for reading.
  EXPECT_TRUE(d.Open());
}

TEST_F(HidDeviceTest, SecondOpenOpensNothingNew) {
  CHidDevice d;
  OpenChannel(d);
  HidHandle r = d.readHandle, w = d.writeHandle;
  EXPECT_TRUE(d.Open());
  EXPECT_EQ(d.readHandle, r);
  EXPECT_EQ(d.writeHandle, w);
}

TEST_F(HidDeviceTest, SecondChannelForTheSameDirectionCannotOpen) {
  CHidDevice first, second;
  OpenChannel(first);
  second.devicePath = first.devicePath;
  TraceCapture trace;
  EXPECT_FALSE(second.Open());
  EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"Cant get USB file handle. The file is locked.",
                                                     "Invalid read handle.", "Invalid write handle."}));
  EXPECT_FALSE(IsValidHandle(second.readHandle));
  EXPECT_FALSE(IsValidHandle(second.writeHandle));
}

TEST_F(HidDeviceTest, FindDevicesOnAnEmptyBusFindsNothing) {
  bus->Unplug(slot);
  EXPECT_TRUE(CHidDevice::FindDevices(2, 0, 0).empty());
  EXPECT_TRUE(CHidDevice::FindDevices(1, 0, 0).empty());
}

TEST_F(HidDeviceTest, FindDevicesFiltersByProductAndVersion) {
  int other = bus->AddSlot(SimDevicePath(2, 2), 2, 0x0310, nullptr);
  bus->Plug(other);
  EXPECT_EQ(CHidDevice::FindDevices(2, 0x0400, 0xFFF0).size(), 1u);
  EXPECT_EQ(CHidDevice::FindDevices(2, 0, 0).size(), 2u);
  EXPECT_TRUE(CHidDevice::FindDevices(1, 0, 0).empty());
}

TEST_F(HidDeviceTest, RemovedDeviceFailsTransfersAtOnce) {
  CHidDevice d;
  OpenChannel(d);
  bus->Unplug(slot);
  uint64_t before = bus->Now();
  uint16_t value;
  EXPECT_FALSE(d.SendCommand(0, 1));
  EXPECT_FALSE(d.ReceiveReply(value, nullptr, 3000));
  EXPECT_EQ(bus->Now(), before);
}

struct MatchCase {
  uint32_t type;
  std::wstring name;
  bool matches;
};

TEST_F(HidDeviceTest, MatchesNotification) {
  CHidDevice d;
  d.devicePath = L"\\\\?\\HID#VID_03DB&PID_0002#abc";
  const MatchCase cases[] = {
      {kDevTypDeviceInterface, L"\\\\?\\HID#VID_03DB&PID_0002#abc", true},
      {kDevTypDeviceInterface, L"\\\\?\\hid#vid_03db&pid_0002#ABC", true},
      {kDevTypDeviceInterface, L"\\\\?\\hid#vid_03db&pid_0002#abd", false},
      {2, L"\\\\?\\HID#VID_03DB&PID_0002#abc", false},
  };
  for (const MatchCase& c : cases) {
    TraceCapture trace;
    EXPECT_EQ(d.MatchesNotification(DeviceNotification{c.type, c.name}), c.matches);
    EXPECT_EQ(trace.Has("Match Failed."), !c.matches);
    if (c.type == kDevTypDeviceInterface) {
      ASSERT_GE(trace.Lines().size(), 2u);
      EXPECT_EQ(trace.Lines()[0], "->" + NarrowText(d.devicePath));
      EXPECT_EQ(trace.Lines()[1], "->" + NarrowText(c.name));
    }
  }
}

}  // namespace
