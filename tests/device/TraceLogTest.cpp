#include "tests/TestSupport.h"

namespace {

TEST(TraceLogTest, ASilencedTraceFormatsNothingUntilItSpeaksAgain) {
  TraceCapture trace;
  SilenceTrace(true);
  TraceLog << "unseen " << 42 << std::endl;
  SilenceTrace(false);
  TraceLog << "seen " << 7 << std::endl;
  EXPECT_EQ(trace.Lines(), std::vector<std::string>{"seen 7"});
}

}  // namespace
