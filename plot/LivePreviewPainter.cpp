#include "plot/LivePreviewPainter.h"

#include <utility>

LivePreviewPainter::LivePreviewPainter(std::chrono::microseconds frame, std::function<void()> draw)
    : frame_(frame), draw_(std::move(draw)) {
  thread_ = std::thread([this] { Run(); });
}

LivePreviewPainter::~LivePreviewPainter() { Stop(); }

void LivePreviewPainter::MarkStale() {
  // Only the mark that finds the preview fresh wakes the painter; the lock
  // orders the wake after the painter's look at the flag.
  if (stale_.exchange(true)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  wake_.notify_one();
}

void LivePreviewPainter::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

bool LivePreviewPainter::WaitUntilDrawn(std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(mutex_);
  return drawn_.wait_for(lock, bound, [this] { return !stale_.load() && !drawing_; });
}

void LivePreviewPainter::Run() {
  using Clock = std::chrono::steady_clock;
  Clock::time_point lastStart = Clock::now() - frame_, lastEnd = lastStart;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stale_.load() || stop_; });
    if (!stale_.load()) break;  // stopped, and the screen shows the last mark
    if (!stop_) {
      // The first display frame after the last drawing's end: the frames
      // that passed while it drew are skipped, not made up for.
      Clock::time_point due = lastStart;
      if (frame_.count() > 0) due += ((lastEnd - lastStart) / frame_ + 1) * frame_;
      wake_.wait_until(lock, due, [this] { return stop_; });
    }
    stale_.store(false);
    drawing_ = true;
    lock.unlock();
    lastStart = Clock::now();
    draw_();
    lastEnd = Clock::now();
    lock.lock();
    drawing_ = false;
    drawn_.notify_all();
  }
}
