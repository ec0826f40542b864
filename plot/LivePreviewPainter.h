// Draws the download's live preview on a thread of its own, so that the
// thread that reads the device never waits for a drawing: the reader only
// marks the preview stale, and the painter draws what is there at most once a
// display frame, letting the marks that come meanwhile join the next drawing.
// A preview falls behind on a busy machine; the device's reports never do.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class LivePreviewPainter {
 public:
  // draw renders and presents the preview as it is when called; it runs on
  // the painter's thread only, one call at a time, at least frame apart.
  LivePreviewPainter(std::chrono::microseconds frame, std::function<void()> draw);
  // Stop.
  ~LivePreviewPainter();
  LivePreviewPainter(const LivePreviewPainter&) = delete;
  LivePreviewPainter& operator=(const LivePreviewPainter&) = delete;

  // The preview changed (any thread). Never waits for a drawing: at most it
  // takes the painter's lock, which is never held while drawing.
  void MarkStale();
  // Draws a preview that is still stale once more (without waiting for the
  // frame) and ends the thread; nothing is drawn after it returns. Idempotent.
  void Stop();
  // Blocks until no mark is waiting and no drawing runs, or for at most
  // bound; answers whether the preview on the screen is the last one marked.
  bool WaitUntilDrawn(std::chrono::milliseconds bound);

 private:
  void Run();

  const std::chrono::microseconds frame_;
  const std::function<void()> draw_;
  std::atomic<bool> stale_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable drawn_;
  bool drawing_ = false;
  bool stop_ = false;
  std::thread thread_;
};
