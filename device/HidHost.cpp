#include "device/HidHost.h"

#include <mutex>

#include "device/ExecHost.h"
#include "simulator/SimHost.h"

namespace {

struct HostSlot {
  std::mutex mutex;
  std::shared_ptr<HidHost> host;
};

HostSlot& Slot() {
  static HostSlot slot;
  return slot;
}

}  // namespace

void MakeHidHostSlot() { Slot(); }

std::shared_ptr<HidHost> CurrentHidHostShared() {
  HostSlot& slot = Slot();
  std::lock_guard<std::mutex> lock(slot.mutex);
  if (!slot.host) slot.host = MakePlatformHidHost();
  return slot.host;
}

HidHost& CurrentHidHost() { return *CurrentHidHostShared(); }

void InstallHidHost(std::shared_ptr<HidHost> host) {
  HostSlot& slot = Slot();
  std::lock_guard<std::mutex> lock(slot.mutex);
  slot.host = std::move(host);
}

std::shared_ptr<HidHost> MakeHidHost(const std::string& spec, std::string& error) {
  if (spec.empty()) return MakePlatformHidHost();
  if (spec == "sim" || spec.rfind("sim:", 0) == 0) {
    return MakeSimHost(spec == "sim" ? std::string() : spec.substr(4), error);
  }
  if (spec.rfind("exec:", 0) == 0) {
    if (spec.size() == 5) {
      error = "exec: needs a command";
      return nullptr;
    }
    return MakeExecHost(spec.substr(5), error);
  }
  error = "unknown device \"" + spec + "\" (use sim, sim:SCENARIO or exec:COMMAND)";
  return nullptr;
}
