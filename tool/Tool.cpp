#include "tool/Tool.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "app/ProgramInfo.h"
#include "device/Altimeter.h"
#include "device/HidHost.h"
#include "device/TraceLog.h"
#include "device/Utf8.h"

namespace {

constexpr const char* kToolUsage = "ulktool [--device SPEC] [--trace] COMMAND [ARGS]";

std::map<std::string, ToolCommand>& Commands() {
  static std::map<std::string, ToolCommand> commands;
  return commands;
}

// The help command is the parser's own, listed with the others.
const ToolCommand kHelpCommand{"help", "help [COMMAND]", "a command's usage and options (as COMMAND --help)", nullptr};

std::string TopLevelHelp() {
  std::string text = std::string("usage: ") + kToolUsage +
                     "\n\n"
                     "The command-line companion of ULK USB: flight computer operations and data set files.\n"
                     "Results go to standard output; status lines, progress and errors to standard error.\n"
                     "A file argument of - is standard input or output.\n\n"
                     "Options:\n"
                     "  --device SPEC  the flight computer to use: sim, sim:SCENARIO, exec:COMMAND;\n"
                     "                 without it ULKUSB_DEVICE, without that the real USB devices\n"
                     "  --trace        developer trace lines on standard error\n"
                     "  --version      the program's name and version\n"
                     "  -h, --help     this text; COMMAND --help for a command's own\n\n"
                     "Commands:\n";
  auto line = [&text](const ToolCommand& command) {
    std::string usage = command.usage;
    text += "  " + usage;
    if (usage.size() < 40) text += std::string(40 - usage.size(), ' ');
    else text += "\n  " + std::string(40, ' ');
    text += std::string(command.summary) + "\n";
  };
  for (const auto& [name, command] : Commands()) line(command);
  line(kHelpCommand);
  text += "\nExit status: 0 done, 1 failed, 2 usage error, 3 no flight computer found.\n";
  return text;
}

// The tool's own usage lines head a command's help; the parser adds the
// options and positionals with their descriptions.
class ToolFormatter : public CLI::Formatter {
 public:
  std::map<const CLI::App*, const ToolCommand*> commands;

  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
    if (!app->get_parent()) return TopLevelHelp();
    return CLI::Formatter::make_help(app, name, mode);
  }
  // The usage line first, then what the command does.
  std::string make_description(const CLI::App*) const override { return ""; }
  std::string make_usage(const CLI::App* app, std::string) const override {
    return "usage: ulktool " + UsageOf(app) + "\n\n" + app->get_description() + "\n";
  }
  // The usage line tells what is required; an option shows the name of its value.
  std::string make_option_opts(const CLI::Option* option) const override {
    if (option->get_positional() || option->get_type_size() == 0) return "";
    return " " + option->get_type_name();
  }
  // A subcommand's usage is its command's, which lists every form.
  std::string UsageOf(const CLI::App* app) const {
    for (; app; app = app->get_parent()) {
      auto it = commands.find(app);
      if (it != commands.end()) return it->second->usage;
    }
    return kToolUsage;
  }
};

// The command the parser went furthest into.
const CLI::App* Selected(const CLI::App& app) {
  const CLI::App* at = &app;
  while (!at->get_subcommands().empty()) at = at->get_subcommands().front();
  return at;
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

void ToolContext::BinaryOut() const {
#ifdef _WIN32
  if (&out == &std::cout) {
    out.flush();
    _setmode(_fileno(stdout), _O_BINARY);
  }
#endif
}

void ToolContext::BinaryIn() const {
#ifdef _WIN32
  if (&in == &std::cin) _setmode(_fileno(stdin), _O_BINARY);
#endif
}

bool ToolContext::ErrIsTerminal() const {
#ifdef _WIN32
  return &err == &std::cerr && _isatty(_fileno(stderr));
#else
  return &err == &std::cerr && isatty(STDERR_FILENO);
#endif
}

int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, std::istream& in,
            const char* deviceSpec) {
  ToolContext context{out, err, in, deviceSpec ? deviceSpec : ""};

  CLI::App app("The command-line companion of ULK USB", "ulktool");
  auto formatter = std::make_shared<ToolFormatter>();
  formatter->column_width(32);
  app.formatter(formatter);
  // Inherited by every command: global options may follow the command, and a
  // path that starts with "/" is a path on Windows too.
  app.fallthrough();
  app.allow_windows_style_options(false);
  app.set_help_flag("-h,--help", "show this help and do nothing else");
  app.require_subcommand(0, 1);
  app.add_option("--device", context.deviceSpec, "the flight computer: sim, sim:SCENARIO, exec:COMMAND")
      ->type_name("SPEC");
  app.add_flag("--trace", context.trace, "developer trace lines on standard error");
  app.set_version_flag("--version", "ulktool (" + Narrow(kProgramTitle) + ")", "the program's name and version");

  std::vector<std::pair<CLI::App*, ToolRunner>> runners;
  for (const auto& [name, command] : Commands()) {
    CLI::App* sub = app.add_subcommand(name, command.summary);
    formatter->commands[sub] = &command;
    runners.emplace_back(sub, command.declare(*sub));
  }
  CLI::App* help = app.add_subcommand(kHelpCommand.name, kHelpCommand.summary);
  formatter->commands[help] = &kHelpCommand;
  std::vector<std::string> topic;
  help->add_option("COMMAND", topic, "a command, or a command and its subcommand");

  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return kExitOk;
  } catch (const CLI::CallForVersion& e) {
    out << e.what() << "\n";
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    const CLI::App* selected = Selected(app);
    if (selected == &app && !app.remaining().empty()) {
      err << "ulktool: unknown command \"" << app.remaining().front() << "\" (see ulktool --help)\n";
    } else {
      err << "ulktool: " << e.what() << "\n"
          << "usage: ulktool " << formatter->UsageOf(selected) << "\n";
    }
    return kExitUsage;
  }

  if (help->parsed()) {
    const CLI::App* about = &app;
    for (const std::string& word : topic) {
      const CLI::App* next = nullptr;
      for (const CLI::App* sub : about->get_subcommands([](const CLI::App*) { return true; }))
        if (sub->get_name() == word) next = sub;
      if (!next) {
        err << "ulktool: unknown command \"" << word << "\" (see ulktool --help)\n";
        return kExitUsage;
      }
      about = next;
    }
    out << formatter->make_help(about, about->get_name(), CLI::AppFormatMode::Normal);
    return kExitOk;
  }

  // Standard output stays for the command's own output; the trace goes to
  // standard error when asked for and nowhere otherwise.
  SetTraceTarget(context.trace ? err.rdbuf() : nullptr);
  const auto chosen = std::find_if(runners.begin(), runners.end(), [](const auto& r) { return r.first->parsed(); });
  if (chosen == runners.end()) {
    err << TopLevelHelp();
    return kExitUsage;
  }
  context.usageText = formatter->commands[chosen->first]->usage;
  int status = chosen->second(context);
  out.flush();
  // What the command opened is closed through the host that opened it, while
  // that host is still the current one.
  Altimeter().Close();
  InstallHidHost(nullptr);
  return status;
}
