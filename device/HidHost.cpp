#include "device/HidHost.h"

#include <mutex>

#include "device/ExecHost.h"
#include "simulator/SimHost.h"

namespace {

std::mutex& HostMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<HidHost>& HostSlot() {
  static std::shared_ptr<HidHost> host;
  return host;
}

}  // namespace

std::shared_ptr<HidHost> CurrentHidHostShared() {
  std::lock_guard<std::mutex> lock(HostMutex());
  std::shared_ptr<HidHost>& host = HostSlot();
  if (!host) host = MakePlatformHidHost();
  return host;
}

HidHost& CurrentHidHost() { return *CurrentHidHostShared(); }

void InstallHidHost(std::shared_ptr<HidHost> host) {
  std::lock_guard<std::mutex> lock(HostMutex());
  HostSlot() = std::move(host);
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
