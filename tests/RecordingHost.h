// The TaskHost of the native tests: every line, question and look a device
// operation gives, in order, as short texts ("status: Data cleared.", "ask
// 116", "busy", "idle", "retry", "redraw", "show", "form"). Questions are
// answered by a rule the test sets (Yes to a Yes/No question, OK to a notice).
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/TaskHost.h"
#include "settings/SettingsForm.h"

class RecordingHost : public TaskHost {
 public:
  void AppendLine(LineKind kind, const std::wstring& line) override {
    std::string text(line.begin(), line.end());
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.resize(text.size() - 2);
    static const char* const kinds[] = {"status: ", "result: ", "progress: "};
    Add(kinds[static_cast<int>(kind)] + text);
  }
  TaskAnswer Ask(uint32_t stringId, uint32_t style) override {
    Add("ask " + std::to_string(stringId));
    if (answer) return answer(stringId, style);
    return (style & TaskStyle::YesNo) == TaskStyle::YesNo ? TaskAnswer::Yes : TaskAnswer::Ok;
  }
  void ShowBusy(bool busy) override { Add(busy ? "busy" : "idle"); }
  void OfferRetry() override { Add("retry"); }
  void RequestRedraw() override { Add("redraw"); }
  void ShowSettings(const SettingsRecord& record) override {
    Add("show");
    shown = record;
  }
  bool ReadSettingsForm(SettingsControls& controls) override {
    Add("form");
    if (!form) return false;
    controls = *form;
    return true;
  }

  std::vector<std::string> Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  // The events without the progress lines (a download's count of them varies).
  std::vector<std::string> EventsWithoutProgress() const {
    std::vector<std::string> kept;
    for (const std::string& e : Events())
      if (e.rfind("progress: ", 0) != 0) kept.push_back(e);
    return kept;
  }

  std::function<TaskAnswer(uint32_t stringId, uint32_t style)> answer;
  std::optional<SettingsControls> form;  // none: the host has no form
  std::optional<SettingsRecord> shown;   // the last record shown

 private:
  void Add(std::string event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
  }

  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};
