#include "device/TraceLog.h"

#include <iostream>
#include <mutex>

namespace {

// Forwards to the current target under one lock, so that a worker thread and
// the dialog thread may both trace without a data race on the target.
class TraceBuffer : public std::streambuf {
 public:
  std::streambuf* Retarget(std::streambuf* target) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::streambuf* old = target_;
    target_ = target;
    return old;
  }

 protected:
  int_type overflow(int_type ch) override {
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    std::lock_guard<std::mutex> lock(mutex_);
    if (target_) target_->sputc(traits_type::to_char_type(ch));
    return ch;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (target_) target_->sputn(s, n);
    return n;
  }
  int sync() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (target_) target_->pubsync();
    return 0;
  }

 private:
  std::mutex mutex_;
  std::streambuf* target_ = std::cout.rdbuf();
};

TraceBuffer& Buffer() {
  static TraceBuffer buffer;
  return buffer;
}

}  // namespace

std::ostream TraceLog(&Buffer());

std::streambuf* SetTraceTarget(std::streambuf* target) { return Buffer().Retarget(target); }

void TraceToStdout() { Buffer().Retarget(std::cout.rdbuf()); }
