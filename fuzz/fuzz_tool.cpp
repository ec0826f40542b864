// ulktool's command line: the global options and every command's own
// arguments, run against the simulator on virtual time inside a scratch
// folder. Arguments that could reach outside it (a path with a separator, an
// external process, a file the simulator would keep, the real clock) are not
// run: the fuzzer must not write about the machine.
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "tool/Tool.h"

namespace {

class ScratchCwd {
 public:
  ScratchCwd() {
    path_ = std::filesystem::temp_directory_path() / ("ulk-fuzz-tool-" + std::to_string(::getpid()));
    std::filesystem::create_directories(path_);
    std::filesystem::current_path(path_);
  }
  ~ScratchCwd() {
    std::error_code ignored;
    std::filesystem::current_path(path_.parent_path(), ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  // What one run wrote goes before the next.
  void Empty() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(path_, ignored))
      std::filesystem::remove_all(entry.path(), ignored);
  }

 private:
  std::filesystem::path path_;
};

bool Allowed(const std::string& arg) {
  if (arg.find_first_of("/\\") != std::string::npos || arg.find("..") != std::string::npos) return false;
  for (const char* word : {"exec", "image", "clock", "latency"})
    if (arg.find(word) != std::string::npos) return false;
  return arg != "--trace";
}

constexpr size_t kMaxArgs = 16;
constexpr size_t kMaxArgLength = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietFuzzing();
  static ScratchCwd scratch;

  // Arguments are separated by NUL bytes.
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      if (args.size() == kMaxArgs) break;
      args.emplace_back();
    } else if (args.back().size() < kMaxArgLength) {
      args.back().push_back(static_cast<char>(data[i]));
    }
  }
  for (std::string& arg : args) {
    if (!Allowed(arg)) return 0;
    // A simulator named on the command line runs on virtual time too.
    if (arg.rfind("sim", 0) == 0) arg += arg == "sim" ? ":clock=virtual" : ",clock=virtual";
    if (arg.rfind("--device=sim", 0) == 0) arg += arg == "--device=sim" ? ":clock=virtual" : ",clock=virtual";
  }

  std::ostringstream out, err;
  std::istringstream in;
  int status = RunTool(args, out, err, in, "sim:clock=virtual");
  FUZZ_CHECK(status == kExitOk || status == kExitFailed || status == kExitUsage || status == kExitNoDevice);
  if (status == kExitUsage) FUZZ_CHECK(!err.str().empty());
  scratch.Empty();
  return 0;
}
