#include <fstream>
#include <iostream>
#include <map>
#include <memory>

#include "device/Altimeter.h"
#include "device/HidHost.h"
#include "device/TraceLog.h"
#include "device/Utf8.h"
#include "tool/Tool.h"

namespace {

std::map<std::string, ToolCommand>& Commands() {
  static std::map<std::string, ToolCommand> commands;
  return commands;
}

void PrintHelp(std::ostream& out) {
  out << "usage: ulktool [--device SPEC] [--trace] COMMAND [ARGS]\n\n"
         "The command-line companion of ULK USB: flight computer operations and data set files.\n\n"
         "Options:\n"
         "  --device SPEC  the flight computer to use: sim, sim:SCENARIO, exec:COMMAND;\n"
         "                 without it ULKUSB_DEVICE, without that the real USB devices\n"
         "  --trace        developer trace lines on standard error\n"
         "  --help         this text\n\n"
         "Commands:\n";
  for (const auto& [name, command] : Commands()) {
    std::string usage = command.usage;
    out << "  " << usage;
    if (usage.size() < 40) out << std::string(40 - usage.size(), ' ');
    else out << "\n  " << std::string(40, ' ');
    out << command.summary << "\n";
  }
}

}  // namespace

bool RegisterToolCommand(const ToolCommand& command) {
  Commands()[command.name] = command;
  return true;
}

std::string Narrow(const std::wstring& text) { return ToUtf8(text); }

std::wstring Widen(const std::string& text) { return FromUtf8(text); }

bool ToolContext::AttachDevice() {
  std::string error;
  std::shared_ptr<HidHost> host = MakeHidHost(deviceSpec, error);
  if (!host) {
    err << "ulktool: " << error << "\n";
    return false;
  }
  InstallHidHost(std::move(host));
  return true;
}

int ToolContext::Usage(const std::string& message) const {
  if (!message.empty()) err << "ulktool: " << message << "\n";
  err << "usage: ulktool " << usageText << "\n";
  return kExitUsage;
}

bool ToolContext::TakeFlag(const std::string& name) {
  for (auto it = args.begin(); it != args.end(); ++it) {
    if (*it == name) {
      args.erase(it);
      return true;
    }
  }
  return false;
}

bool ToolContext::TakeOption(const std::string& name, std::string& value, bool& ok) {
  for (auto it = args.begin(); it != args.end(); ++it) {
    if (*it == name) {
      if (it + 1 == args.end()) {
        ok = false;
        args.erase(it);
        return false;
      }
      value = *(it + 1);
      args.erase(it, it + 2);
      return true;
    }
    if (it->rfind(name + "=", 0) == 0) {
      value = it->substr(name.size() + 1);
      args.erase(it);
      return true;
    }
  }
  return false;
}

int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const char* deviceSpec) {
  ToolContext context{{}, out, err, deviceSpec ? deviceSpec : "", false};
  std::string commandName;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      if (commandName.empty()) {
        PrintHelp(out);
        return kExitOk;
      }
      context.args.push_back(a);
    } else if (a == "--trace") {
      context.trace = true;
    } else if (a == "--device") {
      if (i + 1 == args.size()) {
        err << "ulktool: --device needs a SPEC\n";
        return kExitUsage;
      }
      context.deviceSpec = args[++i];
    } else if (a.rfind("--device=", 0) == 0) {
      context.deviceSpec = a.substr(9);
    } else if (commandName.empty() && !(a.size() > 1 && a[0] == '-')) {
      commandName = a;
    } else {
      context.args.push_back(a);
    }
  }
  // Standard output stays for the command's own output; the trace goes to
  // standard error when asked for and nowhere otherwise.
  SetTraceTarget(context.trace ? err.rdbuf() : nullptr);
  if (commandName.empty()) {
    PrintHelp(err);
    return kExitUsage;
  }
  auto it = Commands().find(commandName);
  if (it == Commands().end()) {
    err << "ulktool: unknown command \"" << commandName << "\" (see ulktool --help)\n";
    return kExitUsage;
  }
  context.usageText = it->second.usage;
  int status = it->second.run(context);
  out.flush();
  // What the command opened is closed through the host that opened it, while
  // that host is still the current one.
  Altimeter().Close();
  InstallHidHost(nullptr);
  return status;
}
