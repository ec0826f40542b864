// A child process started through the system shell, with its standard input
// and output as pipes of text lines (the exec device).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class ExecProcess {
 public:
  virtual ~ExecProcess() = default;
  // Sends one line (LF added), waiting at most timeoutMs for the process to
  // take it; false when it did not in time or has gone. The process only ever
  // sees whole lines: a line is never left cut off before the next one.
  virtual bool WriteLine(const std::string& line, uint32_t timeoutMs) = 0;
  // Blocks until a whole line arrives (without its LF or CR); false at end of file.
  virtual bool ReadLine(std::string& line) = 0;
  // Ends the process (closes its input, then stops it) and waits for it.
  virtual void Stop() = 0;
};

// Null with a message when the process cannot be started.
std::unique_ptr<ExecProcess> StartExecProcess(const std::string& command, std::string& error);
