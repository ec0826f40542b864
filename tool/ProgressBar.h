// ulktool's progress bar: redrawn in place on a terminal (standard error),
// with the status lines written meanwhile starting on a line of their own.
#pragma once

#include <ostream>
#include <string>

#include "tool/ToolDevice.h"

class ProgressBar {
 public:
  explicit ProgressBar(std::ostream& out) : out_(out) {}
  ~ProgressBar() { EndLine(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Draws `filled` of the bar's 40 places, and the text after it.
  void Draw(int filled, char empty, const std::string& after) {
    constexpr int kWidth = 40;
    filled = filled < 0 ? 0 : filled > kWidth ? kWidth : filled;
    out_ << "\r[" << std::string(static_cast<size_t>(filled), '#')
         << std::string(static_cast<size_t>(kWidth - filled), empty) << "] " << after << std::flush;
    open_ = true;
  }
  void EndLine() {
    if (open_) out_ << "\n" << std::flush;
    open_ = false;
  }

 private:
  std::ostream& out_;
  bool open_ = false;
};

// The tool's task host for an operation that may draw a bar: its status lines
// (on the bar's stream) begin below the bar; progress lines are not written.
class BarTaskHost : public ToolTaskHost {
 public:
  BarTaskHost(std::ostream& status, std::ostream& results, ProgressBar& bar)
      : ToolTaskHost(status, results, false, nullptr), bar_(bar) {}
  void AppendLine(LineKind kind, const std::wstring& line) override {
    if (kind == LineKind::Status) bar_.EndLine();
    ToolTaskHost::AppendLine(kind, line);
  }

 private:
  ProgressBar& bar_;
};
