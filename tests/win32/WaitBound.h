// Bounds on the Win32 tests' waits: one that does not end fails its test by
// name and is ended, so a hang costs one test, not the whole run.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Generous: the slowest dialog of the tests ends in well under 15 s.
constexpr DWORD kRunBoundMs = 60000;
constexpr DWORD kStepBoundMs = 30000;

// A window's text for a failure message (the tests' texts are ASCII).
inline std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (wchar_t c : text) narrow += c < 0x80 ? static_cast<char>(c) : '?';
  return narrow;
}

// A bound in seconds as a person reads it: "60", "0.5".
inline std::string Seconds(DWORD ms) {
  std::string text = std::to_string(ms / 1000);
  if (ms % 1000) text += "." + std::to_string(ms % 1000 / 100);
  return text;
}

// A bound on something that runs a message loop until it ends (a modal
// dialog, the main window's loop): a timer on this thread, which that loop
// dispatches. When it fires, the test fails naming what() (and telling
// state(), where given), and end() ends it. window: the window whose messages
// the loop takes (a loop that takes only one window's messages never sees a
// thread timer); nullptr for any loop.
class WaitBound {
 public:
  WaitBound(std::function<std::string()> what, DWORD ms, std::function<void()> end, HWND window = nullptr,
            std::function<std::string()> state = {})
      : what_(std::move(what)), state_(std::move(state)), end_(std::move(end)), ms_(ms), window_(window) {
    id_ = SetTimer(window_, window_ ? reinterpret_cast<UINT_PTR>(this) : 0, ms_, &WaitBound::Fire);
    EXPECT_NE(id_, 0u) << "no timer for the bound";
    Active().push_back(this);
  }
  ~WaitBound() {
    Disarm();
    auto& active = Active();
    active.erase(std::remove(active.begin(), active.end(), this), active.end());
  }
  WaitBound(const WaitBound&) = delete;
  WaitBound& operator=(const WaitBound&) = delete;

  bool Expired() const { return expired_; }

 private:
  static std::vector<WaitBound*>& Active() {
    static std::vector<WaitBound*> active;
    return active;
  }
  static void CALLBACK Fire(HWND window, UINT, UINT_PTR id, DWORD) {
    for (WaitBound* bound : Active()) {
      if (bound->id_ != id || bound->window_ != window || bound->expired_) continue;
      bound->Disarm();
      bound->expired_ = true;
      ADD_FAILURE() << bound->what_() << " did not end within " << Seconds(bound->ms_) << " s"
                    << (bound->state_ ? "; " + bound->state_() : std::string());
      bound->end_();
      return;
    }
  }
  void Disarm() {
    if (id_) KillTimer(window_, id_);
    id_ = 0;
  }

  std::function<std::string()> what_;
  std::function<std::string()> state_;
  std::function<void()> end_;
  DWORD ms_;
  HWND window_;
  UINT_PTR id_ = 0;
  bool expired_ = false;
};
