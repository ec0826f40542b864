#include "simulator/SimFlightComputer.h"

#include <algorithm>

#include "simulator/SimApplicationFirmware.h"
#include "simulator/SimBootloader.h"
#include "simulator/SimFlightModel.h"

SimFlightComputer::SimFlightComputer(const Config& config)
    : settingsStore(kSimDefaultSettings),
      flash(1520 * 64, 0xFF),
      programImage(128 * 1024, 0xFF),
      config_(config),
      inBootloader_(config.startInBootloader),
      application_(std::make_unique<SimApplicationFirmware>(*this)),
      bootloader_(std::make_unique<SimBootloader>(*this)) {
  RecordScenarioFlights(*this);
}

SimFlightComputer::~SimFlightComputer() = default;

bool SimFlightComputer::OnOutputReport(SimBus& bus, int slot, const std::vector<uint8_t>& report) {
  if (writesSeen++ == faults.failWriteAt) return false;
  answerEnded = false;
  return inBootloader_ ? bootloader_->OnReport(bus, slot, report) : application_->OnReport(bus, slot, report);
}

void SimFlightComputer::Reply(SimBus& bus, int slot, std::vector<uint8_t> report, uint64_t delayUs) {
  if (answerEnded) return;
  int n = repliesSent++;
  if (n == faults.noReplyAt) {
    answerEnded = true;
    return;
  }
  if (n == faults.removeAt) {
    // Leaves when this reply would have gone out, after the ones before it.
    const auto& input = bus.Slot(slot).input;
    uint64_t now = bus.Now();
    uint64_t at = (input.empty() ? now : std::max(now, input.back().first)) + bus.replyLatencyUs + delayUs + 1;
    bus.Schedule(at - now, [slot](SimBus& b) { b.Unplug(slot); });
    answerEnded = true;
    return;
  }
  if (n == faults.lateAt) delayUs += faults.lateByUs;
  if (report.size() != 4 && n == faults.codeAt) report[1] = faults.replyCode;
  if (report.size() == 4) {
    if (n == faults.codeAt) report[3] = faults.replyCode;
    if (n == faults.prematureCompletionAt) {
      report = {0, 0, 0, 5};
      answerEnded = true;
    }
  }
  bus.QueueReport(slot, std::move(report), delayUs);
}

void SimFlightComputer::Restart(SimBus& bus, int slot, bool intoBootloader, uint64_t delayUs) {
  bus.Unplug(slot);
  bus.Schedule(delayUs, [this, slot, intoBootloader](SimBus& b) {
    inBootloader_ = intoBootloader;
    b.SetIdentity(slot, intoBootloader ? 1 : 2,
                  intoBootloader ? config_.bootloaderVersion : config_.applicationVersion);
    b.Plug(slot);
  });
}
