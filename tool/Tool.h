// ulktool: the command-line companion. Each command lives in its own file,
// declares its arguments and registers itself with ULK_TOOL_COMMAND.
#pragma once

#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace CLI {
class App;
}

// Exit statuses that scripts rely on.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoDevice = 3;

struct ToolContext {
  std::ostream& out;  // results
  std::ostream& err;  // status lines, progress, errors
  std::istream& in;   // a file named "-"
  std::string deviceSpec;  // --device, else ULKUSB_DEVICE, else "" (the real HID)
  bool trace = false;
  const char* usageText = "";

  // Installs the device host of deviceSpec; false (with a message on err) when
  // the spec is not understood or its process cannot start.
  bool AttachDevice();
  // Usage error: prints the message and the command's usage, answers kExitUsage.
  int Usage(const std::string& message) const;

  // Bytes, not text, go through the standard stream from here on (Windows
  // would otherwise turn each "\n" into "\r\n" and stop reading at a 0x1A).
  void BinaryOut() const;
  void BinaryIn() const;
  // Whether standard error is a terminal that a progress bar can be drawn on.
  bool ErrIsTerminal() const;
};

// "-" for a file argument: standard input or output.
inline bool IsStandardStream(const std::string& name) { return name == "-"; }

// What runs a command once its arguments are parsed into what its declaration bound.
using ToolRunner = std::function<int(ToolContext&)>;

struct ToolCommand {
  const char* name;
  const char* usage;    // "csv FILE.ulk OUT.csv"
  const char* summary;  // one line for --help
  // Declares the command's options and positionals on its own parser and
  // answers what runs it; nothing is run or touched while parsing.
  ToolRunner (*declare)(CLI::App& command);
};

bool RegisterToolCommand(const ToolCommand& command);

// The whole tool over an argument list (without the program name): global
// options, then the command. deviceSpec is the default device (ULKUSB_DEVICE),
// null for none. Answers the exit status.
int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, std::istream& in,
            const char* deviceSpec);

#define ULK_TOOL_CONCAT2(a, b) a##b
#define ULK_TOOL_CONCAT(a, b) ULK_TOOL_CONCAT2(a, b)
#define ULK_TOOL_COMMAND(...) \
  static const bool ULK_TOOL_CONCAT(ulkToolRegistered, __LINE__) = RegisterToolCommand(ToolCommand{__VA_ARGS__})

// Text helpers shared by the commands.
std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);
