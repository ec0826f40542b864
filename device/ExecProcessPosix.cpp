#include "device/ExecProcess.h"

#ifndef _WIN32

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

class PosixProcess : public ExecProcess {
 public:
  PosixProcess(pid_t pid, int in, int out) : pid_(pid), in_(in), out_(out) {}
  ~PosixProcess() override { Stop(); }

  bool WriteLine(const std::string& line, uint32_t timeoutMs) override {
    if (in_ < 0) return false;
    std::string text = line + "\n";
    // The input is non-blocking and a write of at most PIPE_BUF bytes to a pipe
    // is all or nothing, so a line that does not fit in time is not sent at all.
    if (text.size() > PIPE_BUF) return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      ssize_t n = ::write(in_, text.data(), text.size());
      if (n == static_cast<ssize_t>(text.size())) return true;
      if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return false;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd writable{in_, POLLOUT, 0};
      // A signal (Ctrl-C) only shortens the wait; the deadline still holds.
      ::poll(&writable, 1, static_cast<int>(std::min<long long>(left.count() + 1, 60000)));
    }
  }

  bool ReadLine(std::string& line) override {
    line.clear();
    for (;;) {
      size_t nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
      }
      if (out_ < 0) return false;
      char chunk[4096];
      ssize_t n = ::read(out_, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ::close(out_);
        out_ = -1;
        return false;
      }
      // A device that never ends its lines cannot make the host grow without bound.
      if (buffer_.size() > (1u << 20)) buffer_.clear();
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }

  void Stop() override {
    if (in_ >= 0) {
      ::close(in_);
      in_ = -1;
    }
    if (pid_ > 0) {
      ::kill(-pid_, SIGTERM);
      ::kill(pid_, SIGTERM);
      int status = 0;
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      pid_ = -1;
    }
    // The reading side is closed by whoever reads it (it may be blocked in read).
  }

 private:
  pid_t pid_;
  int in_;
  int out_;
  std::string buffer_;
};

}  // namespace

std::unique_ptr<ExecProcess> StartExecProcess(const std::string& command, std::string& error) {
  // A device process that dies must not kill the host with SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
  int toChild[2], fromChild[2];
  if (::pipe(toChild) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return nullptr;
  }
  if (::pipe(fromChild) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    ::close(toChild[0]);
    ::close(toChild[1]);
    return nullptr;
  }
  pid_t pid = ::fork();
  if (pid < 0) {
    error = std::string("fork: ") + std::strerror(errno);
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) ::close(fd);
    return nullptr;
  }
  if (pid == 0) {
    // Its own process group, so that stopping it also stops what its shell started.
    ::setpgid(0, 0);
    ::dup2(toChild[0], 0);
    ::dup2(fromChild[1], 1);
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) ::close(fd);
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(toChild[0]);
  ::close(fromChild[1]);
  // Writes wait with a time-out of their own; the child's end stays blocking.
  ::fcntl(toChild[1], F_SETFL, ::fcntl(toChild[1], F_GETFL) | O_NONBLOCK);
  return std::make_unique<PosixProcess>(pid, toChild[1], fromChild[0]);
}

#endif
