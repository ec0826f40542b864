// ulktool logbook: every flight of every data set file under some files and
// folders, a row each.
#include <filesystem>

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

int RunLogbook(ToolContext& context) {
  const bool json = context.TakeFlag("--json");
  const bool csv = context.TakeFlag("--csv");
  if (json && csv) return context.Usage("--json and --csv exclude each other");
  if (context.args.empty()) return context.Usage("logbook needs at least one file or folder");
  std::vector<std::filesystem::path> paths;
  for (const std::string& argument : context.args) {
    if (argument.size() > 1 && argument[0] == '-') return context.Usage("unknown option " + argument);
    paths.push_back(ArgumentPath(argument));
  }
  // Thousands of files: the loader's trace lines are not even formatted unless
  // asked for. A trace silenced already (a fuzzer) stays so.
  const bool silence = !context.trace && !TraceLog.bad();
  if (silence) SilenceTrace(true);
  const LogbookFormat format = json ? LogbookFormat::Json : csv ? LogbookFormat::Csv : LogbookFormat::Table;
  const bool allRead = WriteLogbook(paths, format, context.out);
  if (silence) SilenceTrace(false);
  return allRead ? kExitOk : kExitFailed;
}

}  // namespace

ULK_TOOL_COMMAND("logbook", "logbook PATH... [--json | --csv]",
                 "a row for every flight in the data set files under files and folders", RunLogbook);
