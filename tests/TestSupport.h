// Shared helpers of the tests: trace capture, a simulated bus on a virtual
// clock installed as the program's HID host, scratch folders, whole files, and
// ulktool run as the user runs it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#endif

#include "device/Altimeter.h"
#include "device/TraceLog.h"
#include "simulator/SimHost.h"

// The lines of a text, without their line ends.
inline std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Collects every trace line written while it lives.
class TraceCapture {
 public:
  TraceCapture() { old_ = SetTraceTarget(text_.rdbuf()); }
  ~TraceCapture() { SetTraceTarget(old_); }
  std::string Text() const { return text_.str(); }
  std::vector<std::string> Lines() const { return LinesOf(text_.str()); }
  bool Has(const std::string& line) const {
    for (const std::string& l : Lines())
      if (l == line) return true;
    return false;
  }

 private:
  std::ostringstream text_;
  std::streambuf* old_;
};

// Installs the simulator of a scenario (virtual clock) for one test.
class SimTest : public ::testing::Test {
 protected:
  void UseScenario(const std::string& scenario) {
    std::string error;
    std::string words = scenario.empty() ? "clock=virtual" : scenario + ",clock=virtual";
    host = MakeSimHost(words, error);
    ASSERT_TRUE(host) << error;
    InstallHidHost(host);
  }
  void SetUp() override { UseScenario(""); }
  void TearDown() override {
    altimeter.reset();
    InstallHidHost(nullptr);
  }
  SimBus& Bus() { return host->Bus(); }
  SimFlightComputer& Device(size_t i = 0) { return *host->devices.at(i); }
  CAltimeter& Alt() {
    if (!altimeter) altimeter = std::make_unique<CAltimeter>();
    return *altimeter;
  }

  std::shared_ptr<SimHost> host;
  std::unique_ptr<CAltimeter> altimeter;
};

// A fresh folder for one test, removed with everything in it afterwards. Its
// name holds the process and a count, so runs side by side never share one.
class ScratchDir {
 public:
  ScratchDir() {
    static std::atomic<int> count{0};
    std::string name = "ulk-" + std::to_string(ProcessId()) + "-" + std::to_string(count++);
    if (const auto* test = ::testing::UnitTest::GetInstance()->current_test_info())
      name += std::string("-") + test->test_suite_name() + "-" + test->name();
    for (char& c : name)
      if (c == '/') c = '_';  // parameterised names
    dir_ = std::filesystem::path(::testing::TempDir()) / name;
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string Path(const std::filesystem::path& name) const { return (dir_ / name).string(); }
  std::wstring WidePath(const std::filesystem::path& name) const { return (dir_ / name).wstring(); }
  std::string Root() const { return dir_.string(); }

 private:
  static long ProcessId() {
#ifdef _WIN32
    return static_cast<long>(_getpid());
#else
    return static_cast<long>(getpid());
#endif
  }
  std::filesystem::path dir_;
};

// A whole file as bytes (empty when it cannot be read): a std::string, or a
// std::vector<uint8_t> where the test compares images.
template <class Bytes = std::string>
Bytes ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces a file with these bytes.
inline void WriteFileBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
inline void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  WriteFileBytes(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// A file of tests/fixtures.
inline std::filesystem::path FixturePath(const std::string& name) {
  return std::filesystem::path(ULK_SOURCE_DIR) / "tests" / "fixtures" / name;
}

#ifndef _WIN32
// What a command did: its exit status (-1 when it did not exit) and its two streams.
struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs a shell command line with its standard output and error caught.
inline ToolRun RunCommand(const std::string& command) {
  static std::atomic<int> count{0};
  const std::string base = ::testing::TempDir() + "ulk-run-" + std::to_string(getpid()) + "-" + std::to_string(count++);
  ToolRun run;
  const int raw = std::system(("(" + command + ") >'" + base + ".out' 2>'" + base + ".err'").c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = ReadFileBytes(base + ".out");
  run.err = ReadFileBytes(base + ".err");
  std::remove((base + ".out").c_str());
  std::remove((base + ".err").c_str());
  return run;
}

// Runs this build's ulktool with these arguments (already quoted for the
// shell); prefix is a command it runs under, such as "timeout 5 ".
inline ToolRun RunTool(const std::string& args, const std::string& prefix = "") {
  return RunCommand(prefix + "'" ULKTOOL_PATH "' " + args);
}
#endif
