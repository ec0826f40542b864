#include "simulator/SimEmulation.h"

#include <algorithm>
#include <cmath>

#include "simulator/SimApplicationFirmware.h"
#include "simulator/SimBus.h"
#include "simulator/SimFlightComputer.h"

namespace {

constexpr uint8_t kReset = 1;
constexpr uint8_t kStart = 4;
constexpr uint8_t kCompletion = 5;
constexpr uint8_t kRequest = 15;
constexpr uint8_t kSample = 22;

// The device samples its barometer ten times a second and asks the host at
// the same rate, so an emulation with the battery connected fires in real time.
constexpr uint64_t kSamplePeriodUs = 100000;

constexpr long kGroundSamples = 50;     // averaged for the ground level
constexpr double kLaunchHeight = 15.0;  // metres above ground that mean a launch...
constexpr int kLaunchConfirm = 3;       // ...on this many samples in a row, so one glitch is not a launch
constexpr double kApogeeDrop = 2.0;     // metres below the highest point
constexpr size_t kRateWindow = 5;       // samples of the climb-rate fit
constexpr size_t kLandedWindow = 30;    // three seconds...
constexpr double kLandedSpan = 2.0;     // ...within this many metres: on the ground
constexpr double kPeakMinimum = 10.0;   // m/s: slower climbs have no peak worth firing on

// Line modes as the settings packet holds them.
enum Mode : uint8_t {
  kModeDisabled = 0,
  kModeTime = 1,
  kModeApogee = 2,
  kModeAltitude = 3,
  kModeAltitudeBeforeApogee = 4,
  kModePeakClimbVelocity = 5,
};

uint16_t Word(const std::array<uint8_t, 22>& s, size_t at) { return static_cast<uint16_t>(s[at] | (s[at + 1] << 8)); }

void RequestSample(SimApplicationFirmware& firmware, SimEmulationState& state, SimBus& bus, int slot) {
  uint64_t due = state.startUs + kSamplePeriodUs * static_cast<uint64_t>(state.requests);
  uint64_t now = bus.Now();
  ++state.requests;
  state.awaitingSample = true;
  firmware.Reply(bus, slot, 0, kRequest, due > now ? due - now : 0);
}

}  // namespace

SimFlightLogic::SimFlightLogic(const std::array<uint8_t, 22>& settings) {
  machInhibit_ = Word(settings, 3);
  lines_[0].mode = settings[8] & 0x0F;
  lines_[1].mode = settings[8] >> 4;
  lines_[0].value = Word(settings, 9);
  lines_[1].value = Word(settings, 11);
  lines_[0].delay = settings[16];
  lines_[1].delay = settings[17];
}

double SimFlightLogic::ClimbRate() const {
  size_t n = std::min(recent_.size(), kRateWindow);
  if (n < 2) return 0;
  double sx = 0, sy = 0, sxy = 0, sxx = 0;
  for (size_t j = 0; j < n; ++j) {
    double x = static_cast<double>(j), y = recent_[recent_.size() - n + j];
    sx += x;
    sy += y;
    sxy += x * y;
    sxx += x * x;
  }
  double dn = static_cast<double>(n);
  return (dn * sxy - sx * sy) / (dn * sxx - sx * sx) * 10.0;
}

bool SimFlightLogic::Triggers(const Line& line) const {
  long sinceLaunch = samples_ - launchAt_;
  // Near Mach the barometer reads nonsense: nothing that depends on it may fire.
  bool pastInhibit = sinceLaunch >= machInhibit_;
  switch (line.mode) {
    case kModeTime:
      return sinceLaunch >= line.value;
    case kModeApogee:
      return apogee_;
    case kModeAltitude:
      return apogee_ && agl_ <= line.value;
    case kModeAltitudeBeforeApogee:
      return !apogee_ && pastInhibit && agl_ >= line.value;
    case kModePeakClimbVelocity:
      return !apogee_ && pastInhibit && maxVelocity_ >= kPeakMinimum &&
             velocity_ <= maxVelocity_ - std::max(5.0, 0.1 * maxVelocity_);
    default:
      return false;
  }
}

std::vector<SimFlightLogic::Event> SimFlightLogic::OnSample(int16_t altitudeMsl) {
  std::vector<Event> events;
  if (ended_) return events;
  long index = samples_;
  if (index < kGroundSamples) {
    groundSum_ += altitudeMsl;
    if (index + 1 == kGroundSamples) ground_ = groundSum_ / kGroundSamples;
    ++samples_;
    return events;
  }

  agl_ = altitudeMsl - ground_;
  recent_.push_back(agl_);
  if (recent_.size() > std::max(kRateWindow, kLandedWindow)) recent_.pop_front();
  velocity_ = ClimbRate();

  if (!launched_) {
    above_ = agl_ >= kLaunchHeight ? above_ + 1 : 0;
    if (above_ >= kLaunchConfirm) {
      launched_ = true;
      launchAt_ = index;
      events.push_back({kLaunch, 0});
    }
  }
  if (launched_) {
    maxAgl_ = std::max(maxAgl_, agl_);
    maxVelocity_ = std::max(maxVelocity_, velocity_);
    if (!apogee_ && index - launchAt_ >= machInhibit_ && velocity_ < 0 && agl_ <= maxAgl_ - kApogeeDrop) {
      apogee_ = true;
      // The slope the device reports is its descent rate then, in tenths of a metre per second.
      double slope = std::min(65535.0, std::round(-velocity_ * 10.0));
      events.push_back({kApogee, static_cast<uint16_t>(slope)});
    }
    for (int i = 0; i < 2; ++i) {
      Line& line = lines_[i];
      if (!line.triggered && Triggers(line)) {
        line.triggered = true;
        line.fireAt = index + line.delay;
      }
      if (line.triggered && !line.fired && index >= line.fireAt) {
        line.fired = true;
        events.push_back({i == 0 ? kLineA : kLineB, 0});
      }
    }
    if (apogee_ && recent_.size() >= kLandedWindow) {
      auto [lo, hi] = std::minmax_element(recent_.end() - kLandedWindow, recent_.end());
      if (*hi - *lo <= kLandedSpan) {
        ended_ = true;
        events.push_back({kEndOfLaunch, 0});
      }
    }
  }
  ++samples_;
  return events;
}

void SimApplicationFirmware::StartEmulation(SimBus& bus, int slot) {
  emulation_ = std::make_unique<SimEmulationState>(device_.settingsStore);
  emulation_->startUs = bus.Now();
  RequestSample(*this, *emulation_, bus, slot);
}

bool SimApplicationFirmware::EmulationReport(SimBus& bus, int slot, uint16_t argument, uint8_t code) {
  switch (code) {
    case kReset:
      // Whether the launch has ended or the host stopped early, a reset ends
      // the emulation mode with a completion.
      emulation_.reset();
      Reply(bus, slot, 0, kCompletion);
      return true;
    case kStart:
      StartEmulation(bus, slot);
      return true;
    case kSample: {
      SimEmulationState& state = *emulation_;
      if (!state.awaitingSample) return true;  // unasked samples are dropped
      state.awaitingSample = false;
      // Whole metres, signed: the host sends the low 16 bits of the altitude.
      for (const SimFlightLogic::Event& event : state.logic.OnSample(static_cast<int16_t>(argument)))
        Reply(bus, slot, event.value, event.code);
      if (!state.logic.Ended()) RequestSample(*this, state, bus, slot);
      return true;
    }
    default:
      // Any other command leaves the emulation mode and is answered as usual.
      emulation_.reset();
      return false;
  }
}
