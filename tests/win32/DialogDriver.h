// Drives a dialog of the program from inside its own modal loop, as the Win32
// tests do: a script run once it is up, steps run in turn whenever they are
// ready, its controls read and pressed as a user would. Every wait here is
// bounded: a dialog that never ends fails its test by name and is ended, so
// the run goes on with the tests after it.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "app/DialogWindow.h"
#include "app/MainWindow.h"
#include "resources/resource.h"
#include "tests/win32/WaitBound.h"

// A dialog class of the program (a CStatusDialog), driven. Self is the test's
// own class derived from this one, when it adds to it; scripts and steps get it.
//
// The script runs once, as soon as the dialog is up. Then the steps run in
// turn on a timer: each answers true when done or false to be asked again at
// the next tick, and waits until no worker runs unless it was made with
// During. After the last step the dialog is closed, unless a step did; a
// dialog without steps is ended by its script (pressing Close, posting
// WM_CLOSE) or by what the script set going.
template <class Dialog, class Self = void>
class DialogDriver : public Dialog {
 public:
  using Driven = std::conditional_t<std::is_void_v<Self>, DialogDriver, Self>;

  class Step {
   public:
    template <class F, class = std::enable_if_t<std::is_invocable_v<F&, Driven&>>>
    Step(F step, bool whenIdle = true) : whenIdle(whenIdle) {
      if constexpr (std::is_void_v<std::invoke_result_t<F&, Driven&>>)
        run = [step](Driven& d) mutable {
          step(d);
          return true;
        };
      else
        run = [step](Driven& d) mutable { return static_cast<bool>(step(d)); };
    }
    std::function<bool(Driven&)> run;
    bool whenIdle;
  };
  // A step that runs while a worker does.
  template <class F>
  static Step During(F step) {
    return Step(std::move(step), false);
  }

  using Dialog::Dialog;

  // Runs the dialog modally; it must open, run its script and steps, and end
  // normally, within runBoundMs.
  INT_PTR Run(HWND owner = nullptr) {
    WaitBound bound([this] { return Name(); }, runBoundMs,
                    [this] {
                      if (this->hwnd && IsWindow(this->hwnd)) EndDialog(this->hwnd, kEndedByTheBound);
                    },
                    nullptr, [this] { return State(); });
    bound_ = &bound;
    const INT_PTR result = Launch(owner);
    bound_ = nullptr;
    if (bound.Expired() || abandoned_) return result;  // failed already, by name
    EXPECT_EQ(result, 0) << "the dialog's end";
    EXPECT_TRUE(opened_) << "the dialog never opened";
    EXPECT_EQ(next_, steps.size()) << "the dialog ended before its step " << next_;
    return result;
  }

  INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == kStartMessage) {
      RunScript();
      return TRUE;
    }
    if (message == WM_TIMER && wParam == kStepTimer) {
      Tick();
      return TRUE;
    }
    if (message == WM_CLOSE) closeSeen_ = true;
    if (message == WM_DESTROY) {
      KillTimer(window, kStepTimer);
      boxAtEnd = Box();
    }
    const INT_PTR result = Dialog::HandleMessage(window, message, wParam, lParam);
    if (message == WM_INITDIALOG) {
      stepStarted_ = GetTickCount();
      SetTimer(window, kStepTimer, 10, nullptr);
      PostMessageW(window, kStartMessage, 0, 0);
    }
    return result;
  }

  // --- the controls, as the user sees them

  std::wstring Text(int id) const {
    HWND control = GetDlgItem(this->hwnd, id);
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
  }
  std::wstring Box() const { return Text(IDC_STATUS_BOX); }
  bool Enabled(int id) const { return IsWindowEnabled(GetDlgItem(this->hwnd, id)) != FALSE; }
  bool Checked(int id) const { return IsDlgButtonChecked(this->hwnd, id) == BST_CHECKED; }
  HANDLE Icon(int pictureId) const {
    return reinterpret_cast<HANDLE>(SendDlgItemMessageW(this->hwnd, pictureId, STM_GETIMAGE, IMAGE_ICON, 0));
  }
  void Type(int id, const wchar_t* text) { SetDlgItemTextW(this->hwnd, id, text); }
  void Check(int id) { CheckDlgButton(this->hwnd, id, BST_CHECKED); }
  // As the user clicks: only what is enabled, through the control itself.
  void Click(int id) {
    ASSERT_TRUE(Enabled(id)) << "control " << id << " is disabled";
    SendDlgItemMessageW(this->hwnd, id, BM_CLICK, 0, 0);
  }
  // The command of a button straight to the dialog, enabled or not, as a
  // click that came before the look changed.
  void Press(int id) { SendMessageW(this->hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

  // --- waits, from a script

  // No worker runs and its thread has ended (it posts its last messages
  // before it ends; a step's tick comes only once they are handled).
  bool Idle() const {
    return !this->WorkerRunning() &&
           (!this->WorkerHandle() || WaitForSingleObject(this->WorkerHandle(), 0) != WAIT_TIMEOUT);
  }
  // Runs the dialog's messages until done() holds: false after ms, or when
  // the run's bound has ended the dialog.
  bool PumpUntil(const std::function<bool()>& done, DWORD ms = kStepBoundMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
      if (GetTickCount() - start > ms || (bound_ && bound_->Expired())) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
      Pump();
    }
    return true;
  }
  // Until the worker has ended and its last messages are handled; a worker
  // that does not end fails the test by name.
  bool WaitForIdle(DWORD ms = kStepBoundMs) {
    if (!PumpUntil([this] { return Idle(); }, ms)) {
      ADD_FAILURE() << "the worker of " << Name() << " did not end within " << Seconds(ms) << " s; " << State();
      return false;
    }
    Pump();
    return true;
  }

  std::function<void(Driven&)> script;
  std::vector<Step> steps;
  std::wstring boxAtEnd;  // the status box as the dialog ended
  DWORD runBoundMs = kRunBoundMs;
  DWORD stepBoundMs = kStepBoundMs;

 protected:
  // Runs the dialog modally: from its template in the resources.
  virtual INT_PTR Launch(HWND owner) { return RunDialog(*this, owner); }

 private:
  static constexpr UINT kStartMessage = WM_APP + 0x3D0;
  static constexpr UINT_PTR kStepTimer = 0x5EC;
  static constexpr INT_PTR kEndedByTheBound = 0xB0D;

  Driven& Me() { return static_cast<Driven&>(*this); }

  void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (!IsDialogMessageW(this->hwnd, &message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
  }

  void RunScript() {
    opened_ = true;
    const bool failedBefore = ::testing::Test::HasFatalFailure();
    if (script) {
      busy_ = true;
      script(Me());
      busy_ = false;
    }
    scriptDone_ = true;
    stepStarted_ = GetTickCount();
    if (!failedBefore && ::testing::Test::HasFatalFailure()) Abandon();
  }

  void Tick() {
    if (busy_ || !scriptDone_ || abandoned_) return;
    if (next_ < steps.size()) {
      Step& step = steps[next_];
      if (GetTickCount() - stepStarted_ > stepBoundMs) {
        ADD_FAILURE() << "step " << next_ << " of " << Name() << " was not done within " << Seconds(stepBoundMs)
                      << " s; " << State();
        Abandon();
        return;
      }
      if (step.whenIdle && !Idle()) return;
      const bool failedBefore = ::testing::Test::HasFatalFailure();
      busy_ = true;
      const bool done = step.run(Me());
      busy_ = false;
      if (!failedBefore && ::testing::Test::HasFatalFailure()) {
        Abandon();
        return;
      }
      if (!done) return;
      ++next_;
      stepStarted_ = GetTickCount();
      if (next_ < steps.size()) return;
    }
    KillTimer(this->hwnd, kStepTimer);
    if (!steps.empty() && !closeSeen_) PostMessageW(this->hwnd, WM_CLOSE, 0, 0);
  }

  // A script or step stopped at a failure: no dialog is left open behind it.
  void Abandon() {
    abandoned_ = true;
    next_ = steps.size();
    KillTimer(this->hwnd, kStepTimer);
    PumpUntil([this] { return Idle(); });
    EndDialog(this->hwnd, kEndedByTheBound);
  }

  // The dialog by its caption.
  std::string Name() const {
    wchar_t caption[256] = L"";
    if (this->hwnd) GetWindowTextW(this->hwnd, caption, 256);
    return "the dialog \"" + Narrow(caption) + "\"";
  }
  // Where its steps were and what it had told.
  std::string State() const {
    std::string text;
    if (!steps.empty()) text += "at step " + std::to_string(next_) + " of " + std::to_string(steps.size()) + ", ";
    return text + "its status box holding:\n" + (this->hwnd ? Narrow(Box()) : std::string());
  }

  WaitBound* bound_ = nullptr;
  size_t next_ = 0;
  DWORD stepStarted_ = 0;
  bool opened_ = false;
  bool scriptDone_ = false;
  bool busy_ = false;  // a script or step runs: the timer's ticks wait
  bool abandoned_ = false;
  bool closeSeen_ = false;
};

// Sends a menu command to the main window; the dialog it runs modally inside
// the command is found by its caption, and ready(dialog) is asked on a timer
// until it answers true; the dialog is then closed. Bounded as a driven run is.
inline void RunMenuDialog(UINT command, const wchar_t* caption, std::function<bool(HWND)> ready,
                          DWORD ms = kRunBoundMs) {
  struct Watch {
    const wchar_t* caption;
    std::function<bool(HWND)> ready;
    bool done = false;
  };
  static Watch* watch = nullptr;
  Watch current{caption, std::move(ready)};
  watch = &current;
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) {
    HWND dialog = FindWindowW(L"DialogClass", watch->caption);
    if (!dialog || watch->done || !watch->ready(dialog)) return;
    watch->done = true;
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  });
  WaitBound bound([caption] { return "the dialog \"" + Narrow(caption) + "\" of the menu command"; }, ms,
                  [caption] {
                    if (HWND dialog = FindWindowW(L"DialogClass", caption)) EndDialog(dialog, 0);
                  });
  SendMessageW(MainWindowHandle(), WM_COMMAND, command, 0);
  KillTimer(nullptr, timer);
  watch = nullptr;
  if (!bound.Expired()) {
    EXPECT_TRUE(current.done) << "the dialog \"" << Narrow(caption) << "\" was never ready";
  }
}
