// The simulator's real clock under Windows, where the C library's sleeps of
// less than a millisecond return at once.
#include <windows.h>

#include <gtest/gtest.h>

#include "simulator/SimClock.h"

namespace {

uint64_t Microseconds(const FILETIME& time) {
  return ((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 10;
}

uint64_t ThreadCpuMicroseconds() {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
  return Microseconds(kernel) + Microseconds(user);
}

// A reader waiting for the next report, less than a millisecond away, sleeps
// as a reader of a real device does; it does not spin a processor.
TEST(SimClockWin32, AWaitOfLessThanAMillisecondSleepsAndNeverEndsEarly) {
  SimClock clock(true);
  const uint64_t cpuBefore = ThreadCpuMicroseconds();
  const uint64_t start = clock.Now();
  for (int i = 0; i < 200; ++i) {
    const uint64_t until = clock.Now() + 500;
    clock.WaitUntil(until);
    ASSERT_GE(clock.Now(), until);
  }
  const uint64_t elapsed = clock.Now() - start;
  const uint64_t cpu = ThreadCpuMicroseconds() - cpuBefore;
  EXPECT_LT(cpu, elapsed / 2) << "the waits took " << elapsed << " us, " << cpu << " us of them on a processor";
}

}  // namespace
