// The trace is not wanted on the test run's output; tests that look at it
// capture it with TraceCapture. Silenced when the tests start, not by a global
// initialiser: the trace's first use reads std::cout, which may not exist yet
// while the test objects are being initialised.
#include <gtest/gtest.h>

#include "device/TraceLog.h"

namespace {

class QuietTrace : public ::testing::Environment {
 public:
  void SetUp() override { SetTraceTarget(nullptr); }
};

::testing::Environment* const quiet = ::testing::AddGlobalTestEnvironment(new QuietTrace);

}  // namespace
