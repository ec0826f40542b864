#include "plot/LivePreviewPainter.h"

#include <gtest/gtest.h>

#include <future>
#include <vector>

namespace {

using std::chrono::milliseconds;
constexpr milliseconds kBound{5000};

TEST(LivePreviewPainter, MarksDuringADrawingJoinOneMoreAndStopDrawsWhatIsStillStale) {
  std::atomic<int> value{0};
  std::vector<int> seen;  // what each drawing showed
  std::promise<void> firstStarted, release;
  std::shared_future<void> released = release.get_future().share();
  LivePreviewPainter painter(milliseconds(1), [&] {
    seen.push_back(value.load());
    if (seen.size() == 1) {
      firstStarted.set_value();
      released.wait();
    }
  });
  painter.MarkStale();
  ASSERT_EQ(firstStarted.get_future().wait_for(kBound), std::future_status::ready);

  // The reader marks a hundred times while the painter is held in a drawing.
  auto marks = std::async(std::launch::async, [&] {
    for (int i = 1; i <= 100; ++i) {
      value = i;
      painter.MarkStale();
    }
  });
  ASSERT_EQ(marks.wait_for(kBound), std::future_status::ready) << "a mark waited for the drawing";
  release.set_value();
  ASSERT_TRUE(painter.WaitUntilDrawn(kBound));
  EXPECT_EQ(seen, (std::vector<int>{0, 100}));

  value = 101;
  painter.MarkStale();
  painter.Stop();
  EXPECT_EQ(seen, (std::vector<int>{0, 100, 101}));
  painter.MarkStale();  // after the stop: the thread has ended, nothing draws
  painter.Stop();
  EXPECT_EQ(seen.size(), 3u);

  LivePreviewPainter idle(milliseconds(1), [&] { seen.push_back(-1); });
  idle.Stop();
  EXPECT_EQ(seen.size(), 3u);
}

// At most one drawing a frame; a drawing longer than a frame skips the frames
// it overran instead of drawing again at once.
TEST(LivePreviewPainter, DrawingsStartAFrameApartAndSkipTheFramesTheyOverran) {
  using Clock = std::chrono::steady_clock;
  const milliseconds frame{20};
  const struct {
    milliseconds drawingTakes, leastGap;
  } cases[] = {{milliseconds(0), frame}, {milliseconds(30), 2 * frame}};
  for (const auto& c : cases) {
    std::vector<Clock::time_point> starts;
    LivePreviewPainter painter(frame, [&] {
      starts.push_back(Clock::now());
      std::this_thread::sleep_for(c.drawingTakes);
    });
    for (int i = 0; i < 4; ++i) {
      painter.MarkStale();
      ASSERT_TRUE(painter.WaitUntilDrawn(kBound));
    }
    painter.Stop();
    ASSERT_EQ(starts.size(), 4u);
    for (size_t i = 1; i < starts.size(); ++i)
      EXPECT_GE(starts[i] - starts[i - 1], c.leastGap) << "drawing " << i << " taking " << c.drawingTakes.count();
  }
}

}  // namespace
