// The live preview's inputs are taken on the dialog's side while the
// download's worker appends to the preview: under the image's lock, so each
// taking is one consistent state (ThreadSanitizer, in ./test --sanitize,
// fails this test when the lock is left out).
#include <atomic>
#include <thread>

#include "device/Altimeter.h"
#include "plot/LivePlotPace.h"
#include "tests/TestSupport.h"

namespace {

class LivePlotInputsTest : public SimTest {};

TEST_F(LivePlotInputsTest, TakenWhileADownloadAppendsEachIsOneStateOfThePreview) {
  ASSERT_EQ(Alt().Connect(nullptr, false), Connected);
  std::atomic<bool> done{false};
  CommandResult result = Ok;
  std::thread worker([&] {
    result = Alt().ReadFlightMemory(nullptr);
    done = true;
  });
  int taken = 0;
  while (!done) {
    const LivePlotInputs inputs = TakeLivePlotInputs(Alt(), 640, 480, 0);
    // The highest point lies among the samples taken with it.
    EXPECT_LE(inputs.timeOfMax * 10.0f, static_cast<float>(inputs.altitude.size()) + 0.01f);
    ++taken;
  }
  worker.join();
  EXPECT_EQ(result, Ok);
  EXPECT_GT(taken, 0);
  EXPECT_FALSE(TakeLivePlotInputs(Alt(), 640, 480, 0).altitude.empty());
}

}  // namespace
