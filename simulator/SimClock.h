// The simulator's clock, in microseconds. Virtual: time moves only when the
// bus waits, at once (tests cost no real time). Real: waiting sleeps, so a demo
// paces like a device on the bus.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

class SimClock {
 public:
  explicit SimClock(bool realTime = false) : realTime_(realTime), start_(std::chrono::steady_clock::now()) {}

  bool RealTime() const { return realTime_; }

  uint64_t Now() const {
    if (!realTime_) return now_.load();
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_).count());
  }

  // Returns once the clock has reached t (never earlier).
  void WaitUntil(uint64_t t);

 private:
  bool realTime_;
  std::chrono::steady_clock::time_point start_;
  std::atomic<uint64_t> now_{0};
};
