// The device's side of a launch emulation: it asks for altitude samples and
// runs its flight logic on them, as it does on its barometer in flight.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <vector>

// The device's flight logic, fed one altitude sample (whole metres above sea
// level) every tenth of a second. It learns the ground, detects launch and
// apogee, fires the two lines by the settings' rules and notices the landing.
class SimFlightLogic {
 public:
  // Reply codes of the events it reports.
  static constexpr uint8_t kLaunch = 16;
  static constexpr uint8_t kLineA = 17;
  static constexpr uint8_t kLineB = 18;
  static constexpr uint8_t kApogee = 19;
  static constexpr uint8_t kEndOfLaunch = 21;

  struct Event {
    uint8_t code;
    uint16_t value;
  };

  // Takes the rules from the 22-byte settings packet the device holds.
  explicit SimFlightLogic(const std::array<uint8_t, 22>& settings);

  // One sample; the events it caused, in the order the device reports them.
  std::vector<Event> OnSample(int16_t altitudeMsl);

  bool Ended() const { return ended_; }

 private:
  struct Line {
    uint8_t mode = 0;
    uint16_t value = 0;
    uint8_t delay = 0;  // tenths of a second = samples
    bool triggered = false;
    bool fired = false;
    long fireAt = 0;
  };
  bool Triggers(const Line& line) const;
  // Least-squares climb rate over the last few samples, metres per second.
  double ClimbRate() const;

  Line lines_[2];
  uint16_t machInhibit_ = 0;  // tenths of a second after launch

  long samples_ = 0;
  double groundSum_ = 0;
  double ground_ = 0;
  std::deque<double> recent_;  // altitude above ground, newest last
  double agl_ = 0;
  double velocity_ = 0;

  bool launched_ = false;
  long launchAt_ = 0;
  int above_ = 0;
  double maxAgl_ = 0;
  double maxVelocity_ = 0;
  bool apogee_ = false;
  bool ended_ = false;
};

struct SimEmulationState {
  explicit SimEmulationState(const std::array<uint8_t, 22>& settings) : logic(settings) {}

  SimFlightLogic logic;
  bool awaitingSample = false;
  int requests = 0;
  uint64_t startUs = 0;
};
