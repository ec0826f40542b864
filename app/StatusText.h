// The text of a dialog's status box. Workers append lines while the dialog
// thread reads the whole text to show it, so both go through one lock.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

class StatusText {
 public:
  // Wide characters including the terminator, as the status box's buffer holds.
  static constexpr size_t kCapacity = 0x20000;

  // Appends a piece. When the text would outgrow the buffer, whole lines are
  // dropped from the front, so the newest lines always show.
  void Append(const std::wstring& piece);
  std::wstring Text() const;
  size_t Length() const;

  // What a box that shows the text up to `shown` (a count of the characters
  // appended so far, as the last Change's end answered) lacks: the text
  // appended since, or the whole text where lines it shows have been dropped
  // from the front since.
  struct Change {
    bool whole = false;  // text replaces what the box shows
    std::wstring text;
    uint64_t end = 0;    // the characters appended so far, this change included
  };
  Change Since(uint64_t shown) const;

 private:
  mutable std::mutex mutex_;
  std::wstring text_;
  uint64_t appended_ = 0;  // every character ever appended, dropped or not
};
