#include "device/TraceLog.h"

#include <iostream>
#include <mutex>
#include <string>

namespace {

// Collects each thread's text until its line ends and then hands the whole
// line to the current target under one lock, so that a worker thread and the
// dialog thread may trace at the same time without mixing their lines.
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
    char c = traits_type::to_char_type(ch);
    xsputn(&c, 1);
    return ch;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::string& pending = Pending();
    pending.append(s, static_cast<size_t>(n));
    size_t end = pending.rfind('\n');
    if (end != std::string::npos) {
      Emit(pending.data(), end + 1);
      pending.erase(0, end + 1);
    }
    return n;
  }
  int sync() override {
    std::string& pending = Pending();
    Emit(pending.data(), pending.size());
    pending.clear();
    std::lock_guard<std::mutex> lock(mutex_);
    if (target_) target_->pubsync();
    return 0;
  }

 private:
  static std::string& Pending() {
    thread_local std::string pending;
    return pending;
  }
  void Emit(const char* text, size_t n) {
    if (n == 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (target_) target_->sputn(text, static_cast<std::streamsize>(n));
  }

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

void SilenceTrace(bool silent) {
  // A stream in a failed state formats nothing: every << returns at once.
  if (silent)
    TraceLog.setstate(std::ios::badbit);
  else
    TraceLog.clear();
}
