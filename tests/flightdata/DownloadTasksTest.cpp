// The download and clear operations through the recording host on the
// simulator: their events in order, what the memory image holds after each
// end, and every fault at every position of their exchanges.
#include "flightdata/DownloadTasks.h"
#include "tests/TaskTestSupport.h"

namespace {

using Events = std::vector<std::string>;

constexpr int kDone = static_cast<int>(DownloadOutcome::Done);
constexpr int kFailed = static_cast<int>(DownloadOutcome::Failed);
const std::string kNotFound = "status: Altimeter not found. Make sure it is properly connected to the PC.";

// Counts the pictures the operation asks for.
struct CountingView : DownloadView {
  void ShowImage() override { ++images; }
  void ShowPacket(int packetIndex) override { packets.push_back(packetIndex); }
  void ShowLivePreview(int) override { ++previews; }
  int images = 0;
  int previews = 0;
  std::vector<int> packets;
};

class DownloadTasksTest : public TaskTest {
 protected:
  void SetUp() override {
    // Two recorded packets keep the exchange short.
    prepare = [](SimFlightComputer& d) { std::fill(d.flash.begin() + 2 * 64, d.flash.end(), uint8_t{0xFF}); };
  }
};

TEST_F(DownloadTasksTest, ADownloadTellsEachPacketAndEndsWithTheCount) {
  Fresh();
  RecordingHost host;
  CountingView view;
  EXPECT_EQ(DownloadTask(Alt(), host, view), DownloadOutcome::Done);
  EXPECT_EQ(host.Events(), (Events{"busy", "status: Attempting to connect to device.",
                                   "status: Altimeter found! Reading settings...", "status: Settings read successfully.",
                                   "status: Reading data...", "progress: Packet Read: 0", "progress: Packet Read: 1",
                                   "status: Data read successfully.", "result: Packets Read: 2", "idle"}));
  EXPECT_EQ(view.images, 1);  // emptied at the start
  EXPECT_EQ(view.packets, (std::vector<int>{0, 1}));
  EXPECT_GT(view.previews, 0);
  EXPECT_EQ(Alt().ImagePacketCount(), 2u);
  EXPECT_EQ(Alt().CountDataSets(), 1);

  // An erased device: nothing to show, and the main window's preview is reset and drawn.
  prepare = [](SimFlightComputer& d) { std::fill(d.flash.begin(), d.flash.end(), uint8_t{0xFF}); };
  Fresh();
  Alt().livePreview.AddSample(13200);
  RecordingHost empty;
  EXPECT_EQ(DownloadTask(Alt(), empty, view), DownloadOutcome::Done);
  const Events events = empty.Events();
  EXPECT_EQ(Events(events.end() - 3, events.end()), (Events{"result: Packets Read: 0", "redraw", "idle"}));
  EXPECT_TRUE(Alt().LivePreviewNow().altitude.empty());
}

TEST_F(DownloadTasksTest, WithoutAChannelNothingIsAskedOfTheDevice) {
  Fresh();
  Alt().packets.resize(3);
  Alt().Close();
  RecordingHost host;
  CountingView view;
  EXPECT_EQ(DownloadTask(Alt(), host, view), DownloadOutcome::NotConnected);
  EXPECT_EQ(host.Events(), (Events{"busy", "status: Attempting to connect to device.", "retry", kNotFound}));
  EXPECT_EQ(Alt().ImagePacketCount(), 0u);

  RecordingHost clear;
  EXPECT_EQ(ClearTask(Alt(), clear, view), ClearOutcome::NotConnected);
  EXPECT_EQ(clear.Events(), (Events{"idle", kNotFound}));
  EXPECT_EQ(Device().writesSeen, 0);
}

TEST_F(DownloadTasksTest, ACancelledDownloadLeavesNothingBehind) {
  Fresh();
  Alt().flight.altitudeMsl = {1.0, 2.0};
  Alt().livePreview.AddSample(13200);
  struct CancellingView : DownloadView {
    explicit CancellingView(CAltimeter& a) : altimeter(a) {}
    void ShowPacket(int) override { altimeter.cancelRequested = true; }
    CAltimeter& altimeter;
  } view(Alt());
  RecordingHost host;
  EXPECT_EQ(DownloadTask(Alt(), host, view), DownloadOutcome::Cancelled);
  EXPECT_EQ(host.Events().back(), "status: Failed to read data.");
  EXPECT_EQ(Alt().ImagePacketCount(), 0u);
  EXPECT_FALSE(Alt().FlightDecoded());
  EXPECT_TRUE(Alt().LivePreviewNow().altitude.empty());
}

TEST_F(DownloadTasksTest, AClearErasesTheDeviceAndEmptiesTheImageButNotThePlot) {
  Fresh();
  Alt().packets.resize(2);
  Alt().flight.altitudeMsl = {1.0, 2.0};
  RecordingHost host;
  CountingView view;
  EXPECT_EQ(ClearTask(Alt(), host, view), ClearOutcome::Done);
  EXPECT_EQ(host.Events(), (Events{"status: Clearing data... please wait a few seconds.",
                                   "result: Data cleared successfully.", "idle"}));
  EXPECT_EQ(Alt().ImagePacketCount(), 0u);
  EXPECT_TRUE(Alt().FlightDecoded());
  EXPECT_EQ(view.images, 1);
  EXPECT_TRUE(std::all_of(Device().flash.begin(), Device().flash.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(DownloadTasksTest, EveryFaultAtEveryPositionOfADownload) {
  Sweep(
      [this](RecordingHost& h) {
        DownloadView none;
        return static_cast<int>(DownloadTask(Alt(), h, none));
      },
      [](const Events& clean) {
        const size_t settings = After(clean, "status: Altimeter found! Reading settings...");
        const size_t data = After(clean, "status: Reading data...");
        return std::vector<FailingStep>{
            {"ReadSettings", settings, settings, {"retry", "status: Failed to read settings."}, kFailed},
            {"ReadFlightMemory", data, data, {"retry", "status: Failed to read data."}, kFailed}};
      },
      kDone);
}

TEST_F(DownloadTasksTest, EveryFaultAtEveryPositionOfAClear) {
  Sweep(
      [this](RecordingHost& h) {
        DownloadView none;
        return static_cast<int>(ClearTask(Alt(), h, none));
      },
      [](const Events&) {
        return std::vector<FailingStep>{
            {"ClearMemory", 1, 1, {"idle", "status: Failed to clear data."}, static_cast<int>(ClearOutcome::Failed)}};
      },
      static_cast<int>(ClearOutcome::Done));
}

}  // namespace
