// An exec device on Windows: the command line as it stands, with pipes for
// its standard input and output.
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "device/ExecProcess.h"

namespace {

class Win32Process : public ExecProcess {
 public:
  Win32Process(PROCESS_INFORMATION info, HANDLE in, HANDLE out)
      : info_(info), in_(in), out_(out), written_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Win32Process() override {
    Stop();
    if (out_) CloseHandle(out_);
    if (written_) CloseHandle(written_);
  }

  bool WriteLine(const std::string& line, uint32_t timeoutMs) override {
    if (!in_ || !written_) return false;
    DWORD start = GetTickCount();
    // The rest of a line that a timed-out write had begun goes first, so that
    // the process never sees a line cut short.
    if (!unsent_.empty()) {
      unsent_.erase(0, Send(unsent_, timeoutMs));
      if (!unsent_.empty()) return false;
      DWORD spent = GetTickCount() - start;
      timeoutMs = spent < timeoutMs ? timeoutMs - spent : 0;
    }
    std::string text = line + "\n";
    size_t sent = Send(text, timeoutMs);
    if (sent == text.size()) return true;
    if (sent > 0) unsent_ = text.substr(sent);
    return false;
  }

  bool ReadLine(std::string& line) override {
    for (;;) {
      size_t nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
      }
      char chunk[4096];
      DWORD n = 0;
      if (!ReadFile(out_, chunk, sizeof chunk, &n, nullptr) || n == 0) return false;
      if (buffer_.size() > (1u << 20)) buffer_.clear();
      buffer_.append(chunk, n);
    }
  }

  void Stop() override {
    if (in_) {
      CloseHandle(in_);
      in_ = nullptr;
    }
    if (info_.hProcess) {
      TerminateProcess(info_.hProcess, 0);
      WaitForSingleObject(info_.hProcess, INFINITE);
      CloseHandle(info_.hProcess);
      CloseHandle(info_.hThread);
      info_.hProcess = nullptr;
    }
  }

 private:
  // One overlapped write, cancelled when it has not completed in time; answers
  // how many bytes the pipe took.
  size_t Send(const std::string& text, uint32_t timeoutMs) {
    OVERLAPPED record{};
    record.hEvent = written_;
    ResetEvent(written_);
    if (!WriteFile(in_, text.data(), static_cast<DWORD>(text.size()), nullptr, &record)) {
      if (GetLastError() != ERROR_IO_PENDING) return 0;
      if (WaitForSingleObject(written_, timeoutMs) != WAIT_OBJECT_0) CancelIoEx(in_, &record);
    }
    DWORD sent = 0;
    GetOverlappedResult(in_, &record, &sent, TRUE);
    return sent;
  }

  PROCESS_INFORMATION info_;
  HANDLE in_;
  HANDLE out_;
  HANDLE written_;
  std::string buffer_;
  std::string unsent_;
};

std::atomic<unsigned> pipeNumber{0};

}  // namespace

std::unique_ptr<ExecProcess> StartExecProcess(const std::string& command, std::string& error) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  // The process's input is a named pipe, the only kind whose writes can wait
  // with a time-out (overlapped); its output is an ordinary one.
  std::string name = "\\\\.\\pipe\\ulkusb-exec-" + std::to_string(GetCurrentProcessId()) + "-" +
                     std::to_string(pipeNumber++);
  HANDLE toChild = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED |
                                    FILE_FLAG_FIRST_PIPE_INSTANCE,
                                    PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 4096, 0, 0, nullptr);
  if (toChild == INVALID_HANDLE_VALUE) {
    error = "cannot create pipes for the device process";
    return nullptr;
  }
  HANDLE childIn = CreateFileA(name.c_str(), GENERIC_READ, 0, &inherit, OPEN_EXISTING, 0, nullptr);
  HANDLE fromChild = nullptr, childOut = nullptr;
  if (childIn == INVALID_HANDLE_VALUE || !CreatePipe(&fromChild, &childOut, &inherit, 0)) {
    CloseHandle(toChild);
    if (childIn != INVALID_HANDLE_VALUE) CloseHandle(childIn);
    error = "cannot create pipes for the device process";
    return nullptr;
  }
  SetHandleInformation(fromChild, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = childIn;
  startup.hStdOutput = childOut;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
  CloseHandle(childIn);
  CloseHandle(childOut);
  if (!started) {
    CloseHandle(toChild);
    CloseHandle(fromChild);
    error = "cannot start the device process: " + command;
    return nullptr;
  }
  return std::make_unique<Win32Process>(info, toChild, fromChild);
}
