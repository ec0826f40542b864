// A child process started through the system shell, with its standard input
// and output as pipes of text lines (the exec device).
#pragma once

#include <memory>
#include <string>

class ExecProcess {
 public:
  virtual ~ExecProcess() = default;
  // Sends one line (LF added); false once the process has gone.
  virtual bool WriteLine(const std::string& line) = 0;
  // Blocks until a whole line arrives (without its LF or CR); false at end of file.
  virtual bool ReadLine(std::string& line) = 0;
  // Ends the process (closes its input, then stops it) and waits for it.
  virtual void Stop() = 0;
};

// Null with a message when the process cannot be started.
std::unique_ptr<ExecProcess> StartExecProcess(const std::string& command, std::string& error);
