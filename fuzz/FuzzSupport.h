// Shared by the fuzz targets: the input as a stream without a copy, a reader
// that takes values off the input's front, and the one-time quiet set-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <istream>
#include <streambuf>

#include "device/TraceLog.h"

// A read-only, seekable stream buffer over bytes that someone else owns.
class MemoryBuf : public std::streambuf {
 public:
  MemoryBuf(const uint8_t* data, size_t size) {
    char* begin = const_cast<char*>(reinterpret_cast<const char*>(data));
    setg(begin, begin, begin + size);
  }

 protected:
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override {
    if (!(which & std::ios_base::in)) return pos_type(off_type(-1));
    off_type base = dir == std::ios_base::beg ? 0 : dir == std::ios_base::cur ? gptr() - eback() : egptr() - eback();
    off_type to = base + off;
    if (to < 0 || to > egptr() - eback()) return pos_type(off_type(-1));
    setg(eback(), eback() + to, egptr());
    return pos_type(to);
  }
  pos_type seekpos(pos_type pos, std::ios_base::openmode which) override {
    return seekoff(off_type(pos), std::ios_base::beg, which);
  }
};

class MemoryStream : public std::istream {
 public:
  MemoryStream(const uint8_t* data, size_t size) : std::istream(nullptr), buf_(data, size) { rdbuf(&buf_); }

 private:
  MemoryBuf buf_;
};

// Values taken from the front of the input; zeros once it is used up.
class FuzzReader {
 public:
  FuzzReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  size_t Left() const { return size_ - at_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
  bool Bit() { return (Byte() & 1) != 0; }
  const uint8_t* Take(size_t n, size_t& got) {
    got = n < Left() ? n : Left();
    const uint8_t* p = data_ + at_;
    at_ += got;
    return p;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// A broken property: report it and stop, so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                          \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

// The trace is neither wanted nor affordable at thousands of runs a second.
inline void QuietFuzzing() {
  static const bool done = (SetTraceTarget(nullptr), SilenceTrace(true), true);
  (void)done;
}
