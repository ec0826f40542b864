#include "app/StatusText.h"

void StatusText::Append(const std::wstring& piece) {
  constexpr size_t room = kCapacity - 1;
  std::lock_guard<std::mutex> lock(mutex_);
  appended_ += piece.size();
  if (piece.size() >= room) {
    text_.assign(piece, piece.size() - room, room);
    return;
  }
  if (text_.size() + piece.size() > room) {
    // Cut after the first line end that frees enough; if none, drop it all.
    size_t excess = text_.size() + piece.size() - room;
    size_t end = text_.find(L"\r\n", excess >= 2 ? excess - 2 : 0);
    text_.erase(0, end == std::wstring::npos ? text_.size() : end + 2);
  }
  text_ += piece;
}

std::wstring StatusText::Text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return text_;
}

size_t StatusText::Length() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return text_.size();
}

StatusText::Change StatusText::Since(uint64_t shown) const {
  std::lock_guard<std::mutex> lock(mutex_);
  Change change;
  change.end = appended_;
  const uint64_t start = appended_ - text_.size();  // where the kept text begins
  change.whole = shown < start || shown > appended_;
  change.text = change.whole ? text_ : text_.substr(static_cast<size_t>(shown - start));
  return change;
}
