// Device operations run through the recording host on the simulator, and the
// sweep that meets an operation with every fault at every reply and write of
// its exchange. What a faulted run must show is derived from its clean run:
// the same events, or the clean events up to one of the operation's failing
// steps followed by that step's own failure events.
#pragma once

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/RecordingHost.h"
#include "tests/TestSupport.h"

enum class TaskFault { NoReply, WrongCode, PrematureCompletion, Removal, LateReply, FailedWrite };

inline const char* TaskFaultName(TaskFault f) {
  switch (f) {
    case TaskFault::NoReply: return "no reply";
    case TaskFault::WrongCode: return "wrong code";
    case TaskFault::PrematureCompletion: return "premature completion";
    case TaskFault::Removal: return "removal";
    case TaskFault::LateReply: return "late reply";
    case TaskFault::FailedWrite: return "failed write";
  }
  return "?";
}

// A step of an operation that can fail: its failure cuts the clean events
// somewhere from `from` to `to` (indices into them) and adds `tail`. Where the
// operation goes on regardless, the clean events resume at `resume`.
struct FailingStep {
  std::string name;
  size_t from = 0;
  size_t to = 0;
  std::vector<std::string> tail;
  int outcome = 0;  // what the operation answers when it ends there
  size_t resume = kEnds;
  static constexpr size_t kEnds = static_cast<size_t>(-1);
};

// Whether got[g:] is clean[c:], with failing steps cut in where they fit;
// outcome becomes that of the step that ended it (unchanged when none did),
// and met counts the steps used.
inline bool MatchEvents(const std::vector<std::string>& got, size_t g, const std::vector<std::string>& clean, size_t c,
                        const std::vector<FailingStep>& steps, int& outcome, std::vector<int>& met) {
  if (std::equal(got.begin() + static_cast<std::ptrdiff_t>(g), got.end(), clean.begin() + static_cast<std::ptrdiff_t>(c),
                 clean.end()))
    return true;
  for (size_t s = 0; s < steps.size(); ++s) {
    const FailingStep& step = steps[s];
    for (size_t cut = std::max(step.from, c); cut <= step.to; ++cut) {
      const size_t same = cut - c, end = g + same + step.tail.size();
      if (end > got.size()) break;
      if (!std::equal(clean.begin() + static_cast<std::ptrdiff_t>(c), clean.begin() + static_cast<std::ptrdiff_t>(cut),
                      got.begin() + static_cast<std::ptrdiff_t>(g)))
        break;
      if (!std::equal(step.tail.begin(), step.tail.end(), got.begin() + static_cast<std::ptrdiff_t>(g + same))) continue;
      if (step.resume == FailingStep::kEnds) {
        if (end != got.size()) continue;
        outcome = step.outcome;
      } else if (!MatchEvents(got, end, clean, step.resume, steps, outcome, met)) {
        continue;
      }
      ++met[s];
      return true;
    }
  }
  return false;
}

// The index just after the first clean event equal to line; fails the test when there is none.
inline size_t After(const std::vector<std::string>& events, const std::string& line) {
  for (size_t i = 0; i < events.size(); ++i)
    if (events[i] == line) return i + 1;
  ADD_FAILURE() << "the clean run has no \"" << line << "\"";
  return events.size();
}

inline std::string Joined(const std::vector<std::string>& events) {
  std::ostringstream text;
  for (const std::string& e : events) text << "  " << e << "\n";
  return text.str();
}

class TaskTest : public SimTest {
 protected:
  void SetUp() override {}

  // A fresh device, prepared and connected, with its counters at zero.
  void Fresh(const std::string& scenario = "", bool bootloader = false) {
    altimeter.reset();
    UseScenario(scenario);
    if (prepare) prepare(Device());
    ASSERT_EQ(Alt().Connect(nullptr, bootloader), Connected);
    Device().repliesSent = 0;
    Device().writesSeen = 0;
  }

  static void Inject(SimFaults& f, TaskFault fault, int at) {
    switch (fault) {
      case TaskFault::NoReply: f.noReplyAt = at; break;
      case TaskFault::WrongCode: f.codeAt = at, f.replyCode = 0x63; break;
      case TaskFault::PrematureCompletion: f.prematureCompletionAt = at; break;
      case TaskFault::Removal: f.removeAt = at; break;
      // Later than any wait of an operation (the emulation's completion waits 60 s).
      case TaskFault::LateReply: f.lateAt = at, f.lateByUs = 61'000'000; break;
      case TaskFault::FailedWrite: f.failWriteAt = at; break;
    }
  }

  // Runs the operation on a fresh device under every fault at every position
  // of its clean exchange. steps(clean) gives its failing steps from the
  // clean events; every faulted run must match the clean run or one step, and
  // every step must be met at least once.
  void Sweep(const std::function<int(RecordingHost&)>& run,
             const std::function<std::vector<FailingStep>(const std::vector<std::string>&)>& steps,
             int doneOutcome, const std::string& scenario = "", bool bootloader = false,
             const std::vector<TaskFault>& faults = {TaskFault::NoReply, TaskFault::WrongCode,
                                                     TaskFault::PrematureCompletion, TaskFault::Removal,
                                                     TaskFault::LateReply, TaskFault::FailedWrite}) {
    Fresh(scenario, bootloader);
    RecordingHost cleanHost;
    ASSERT_EQ(run(cleanHost), doneOutcome) << Joined(cleanHost.Events());
    const std::vector<std::string> clean = cleanHost.EventsWithoutProgress();
    const int replies = Device().repliesSent, writes = Device().writesSeen;
    const std::vector<FailingStep> failing = steps(clean);
    std::vector<int> met(failing.size(), 0);
    for (TaskFault fault : faults) {
      const int positions = fault == TaskFault::FailedWrite ? writes : replies;
      for (int at = 0; at < positions; ++at) {
        Fresh(scenario, bootloader);
        Inject(Device().faults, fault, at);
        RecordingHost host;
        const int outcome = run(host);
        const std::vector<std::string> got = host.EventsWithoutProgress();
        SCOPED_TRACE(std::string(TaskFaultName(fault)) + " at " + std::to_string(at) + "; events:\n" + Joined(got));
        int want = doneOutcome;
        EXPECT_TRUE(MatchEvents(got, 0, clean, 0, failing, want, met)) << "neither the clean run nor its failing steps";
        EXPECT_EQ(outcome, want);
        if (HasFailure()) return;  // the first broken case says enough
      }
    }
    for (size_t s = 0; s < failing.size(); ++s) EXPECT_GT(met[s], 0) << "no fault made " << failing[s].name << " fail";
  }

  // Runs before each connect of Fresh: the device as the test wants it.
  std::function<void(SimFlightComputer&)> prepare;
};
