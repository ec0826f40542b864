// ulktool logbook: every flight of every data set file under some files and
// folders, a row each.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <memory>

#include "device/TraceLog.h"
#include "device/Utf8.h"
#include "flightdata/Logbook.h"
#include "tool/Tool.h"

namespace {

std::filesystem::path ArgumentPath(const std::string& argument) {
#ifdef _WIN32
  return FilePath(Widen(argument));
#else
  // A name's bytes as they are, UTF-8 or not.
  return std::filesystem::path(argument);
#endif
}

struct LogbookOptions {
  std::vector<std::string> paths;
  bool json = false, csv = false;
};

int RunLogbook(ToolContext& context, const LogbookOptions& o) {
  const bool json = o.json, csv = o.csv;
  if (o.paths.empty()) return context.Usage("logbook needs at least one file or folder");
  std::vector<std::filesystem::path> paths;
  bool standardInput = false;
  for (const std::string& argument : o.paths) {
    paths.push_back(ArgumentPath(argument));
    standardInput = standardInput || IsStandardStream(argument);
  }
  if (standardInput) context.BinaryIn();
  // Thousands of files: the loader's trace lines are not even formatted unless
  // asked for. A trace silenced already (a fuzzer) stays so.
  const bool silence = !context.trace && !TraceLog.bad();
  if (silence) SilenceTrace(true);
  const LogbookFormat format = json ? LogbookFormat::Json : csv ? LogbookFormat::Csv : LogbookFormat::Table;
  const bool allRead = WriteLogbook(paths, format, context.out, standardInput ? &context.in : nullptr);
  if (silence) SilenceTrace(false);
  return allRead ? kExitOk : kExitFailed;
}

ToolRunner DeclareLogbook(CLI::App& command) {
  auto o = std::make_shared<LogbookOptions>();
  command.add_option("PATH", o->paths,
                     "data set files and folders to search (- for a data set file on standard input)");
  CLI::Option* json = command.add_flag("--json", o->json, "a JSON array of rows, every key in every row");
  command.add_flag("--csv", o->csv, "a header of the keys and a CSV record a row")->excludes(json);
  return [o](ToolContext& context) { return RunLogbook(context, *o); };
}

}  // namespace

ULK_TOOL_COMMAND("logbook", "logbook PATH... [--json | --csv]",
                 "a row for every flight in the data set files under files and folders", DeclareLogbook);
