// ulktool: the command-line companion. Each command lives in its own file and
// registers itself with ULK_TOOL_COMMAND.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// Exit statuses that scripts rely on.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoDevice = 3;

struct ToolContext {
  std::vector<std::string> args;  // the command's own arguments (global options removed)
  std::ostream& out;
  std::ostream& err;
  std::string deviceSpec;         // --device, else ULKUSB_DEVICE, else "" (the real HID)
  bool trace = false;

  // Installs the device host of deviceSpec; false (with a message on err) when
  // the spec is not understood or its process cannot start.
  bool AttachDevice();
  // Usage error: prints the message and the command's usage, answers kExitUsage.
  int Usage(const std::string& message) const;
  // Takes "--name" from args; true when it was there.
  bool TakeFlag(const std::string& name);
  // Takes "--name VALUE" or "--name=VALUE" from args; false when absent. A
  // missing value is a usage error reported through ok = false.
  bool TakeOption(const std::string& name, std::string& value, bool& ok);

  const char* usageText = "";
};

struct ToolCommand {
  const char* name;
  const char* usage;    // "csv FILE.ulk OUT.csv"
  const char* summary;  // one line for --help
  int (*run)(ToolContext& context);
};

bool RegisterToolCommand(const ToolCommand& command);

// The whole tool over an argument list (without the program name): global
// options, then the command. deviceSpec is the default device (ULKUSB_DEVICE),
// null for none. Answers the exit status.
int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const char* deviceSpec);

#define ULK_TOOL_CONCAT2(a, b) a##b
#define ULK_TOOL_CONCAT(a, b) ULK_TOOL_CONCAT2(a, b)
#define ULK_TOOL_COMMAND(...) \
  static const bool ULK_TOOL_CONCAT(ulkToolRegistered, __LINE__) = RegisterToolCommand(ToolCommand{__VA_ARGS__})

// Text helpers shared by the commands.
std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);
