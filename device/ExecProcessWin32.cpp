// An exec device on Windows: the command line as it stands, with pipes for
// its standard input and output.
#include <windows.h>

#include <vector>

#include "device/ExecProcess.h"

namespace {

class Win32Process : public ExecProcess {
 public:
  Win32Process(PROCESS_INFORMATION info, HANDLE in, HANDLE out) : info_(info), in_(in), out_(out) {}
  ~Win32Process() override {
    Stop();
    if (out_) CloseHandle(out_);
  }

  bool WriteLine(const std::string& line) override {
    if (!in_) return false;
    std::string text = line + "\n";
    DWORD written = 0;
    return WriteFile(in_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
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
  PROCESS_INFORMATION info_;
  HANDLE in_;
  HANDLE out_;
  std::string buffer_;
};

}  // namespace

std::unique_ptr<ExecProcess> StartExecProcess(const std::string& command, std::string& error) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE childIn = nullptr, toChild = nullptr, fromChild = nullptr, childOut = nullptr;
  if (!CreatePipe(&childIn, &toChild, &inherit, 0) || !CreatePipe(&fromChild, &childOut, &inherit, 0)) {
    error = "cannot create pipes for the device process";
    return nullptr;
  }
  SetHandleInformation(toChild, HANDLE_FLAG_INHERIT, 0);
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
