#include "device/ExecProcess.h"

#ifndef _WIN32

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

class PosixProcess : public ExecProcess {
 public:
  PosixProcess(pid_t pid, int in, int out) : pid_(pid), in_(in), out_(out) {}
  ~PosixProcess() override { Stop(); }

  bool WriteLine(const std::string& line) override {
    if (in_ < 0) return false;
    std::string text = line + "\n";
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
      ssize_t n = ::write(in_, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      p += n;
      left -= static_cast<size_t>(n);
    }
    return true;
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
  return std::make_unique<PosixProcess>(pid, toChild[1], fromChild[0]);
}

#endif
