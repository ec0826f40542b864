// The trace is not wanted on the test run's output; tests that look at it
// capture it with TraceCapture.
#include "device/TraceLog.h"

namespace {
const bool quiet = (SetTraceTarget(nullptr), true);
}
