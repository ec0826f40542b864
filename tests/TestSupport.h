// Shared helpers of the native tests: trace capture and a simulated bus on a
// virtual clock installed as the program's HID host.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "device/Altimeter.h"
#include "device/TraceLog.h"
#include "simulator/SimHost.h"

// Collects every trace line written while it lives.
class TraceCapture {
 public:
  TraceCapture() { old_ = SetTraceTarget(text_.rdbuf()); }
  ~TraceCapture() { SetTraceTarget(old_); }
  std::string Text() const { return text_.str(); }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(text_.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
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
