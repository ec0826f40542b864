#include "simulator/SimFlightModel.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

#include "simulator/SimFlightComputer.h"

namespace {

constexpr double kGravity = 9.81;
constexpr double kPi = 3.14159265358979323846;
constexpr double kDrag = 0.0005;           // per metre: v' = -k v|v| from the airframe
constexpr double kStep = 0.01;             // seconds of the integration
constexpr int kStepsPerSample = 10;        // ten samples a second
constexpr int kPadSamples = 10;            // recorded before the launch
constexpr int kGroundSamples = 50;         // recorded after landing
constexpr int kMaxSamples = 20000;         // a flight that never lands still ends
constexpr double kTumbleRate = 45.0;       // descent with nothing deployed, m/s
constexpr double kMainRate = 6.0;
constexpr size_t kFlashPackets = 1520;
constexpr size_t kPacketBytes = 64;
constexpr int kSamplesPerPacket = 15;
constexpr uint8_t kStartType = 2;
constexpr uint8_t kFurtherType = 3;

// The standard engine and our own uniform and normal draws, so that every
// platform records the same flights for a seed.
class Random {
 public:
  explicit Random(uint32_t seed) : engine_(seed) {}
  double Uniform() { return static_cast<double>(engine_()) / 4294967296.0; }
  double Normal() {
    double u = std::max(Uniform(), 1e-12);
    double v = Uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * kPi * v);
  }

 private:
  std::mt19937 engine_;
};

struct LineRule {
  uint8_t mode = 0;
  uint16_t value = 0;
  int delay = 0;   // samples
  int onTime = 0;  // samples
  int triggeredAt = -1;

  int FireStart() const { return triggeredAt < 0 ? -1 : triggeredAt + delay; }
  bool On(int i) const { return triggeredAt >= 0 && i >= FireStart() && i < FireStart() + onTime; }
  bool Fired(int i) const { return triggeredAt >= 0 && i >= FireStart(); }
  // The match burns through in the first tenth of a second of firing.
  bool Continuity(int i) const { return !(triggeredAt >= 0 && i > FireStart()); }
};

LineRule RuleOf(const std::array<uint8_t, 22>& s, bool lineB) {
  LineRule rule;
  rule.mode = lineB ? static_cast<uint8_t>(s[8] >> 4) : static_cast<uint8_t>(s[8] & 0x0F);
  size_t at = lineB ? 11 : 9;
  rule.value = static_cast<uint16_t>(s[at] | (s[at + 1] << 8));
  rule.delay = lineB ? s[17] : s[16];
  rule.onTime = lineB ? s[19] : s[18];
  return rule;
}

struct FlightState {
  int sample = 0;          // from the start of the record
  int launchSample = 0;
  double height = 0.0;     // above ground
  double velocity = 0.0;
  bool burnedOut = false;
  bool pastApogee = false;
};

bool Triggers(const LineRule& rule, const FlightState& f, int machInhibitSamples) {
  int sinceLaunch = f.sample - f.launchSample;
  if (sinceLaunch < 0) return false;
  switch (rule.mode) {
    case 1: return sinceLaunch >= rule.value;
    case 2: return f.pastApogee && sinceLaunch >= machInhibitSamples;
    case 3: return f.pastApogee && f.height <= rule.value;
    case 4: return !f.pastApogee && f.velocity > 0 && f.height >= rule.value && sinceLaunch >= machInhibitSamples;
    case 5: return f.burnedOut;
    default: return false;
  }
}

double Acceleration(double velocity, double thrust) {
  return thrust - kGravity - kDrag * velocity * std::fabs(velocity);
}

// Apogee without noise for a boost of thrust (m/s²) over burn seconds.
double ApogeeOf(double thrust, double burn) {
  double h = 0.0, v = 0.0, t = 0.0;
  while (t < burn || v > 0) {
    v += Acceleration(v, t < burn ? thrust : 0.0) * kStep;
    h += v * kStep;
    t += kStep;
    if (t > 200) break;
  }
  return h;
}

double ThrustFor(double apogee, double burn) {
  double lo = 12.0, hi = 800.0;
  for (int i = 0; i < 50; ++i) {
    double mid = 0.5 * (lo + hi);
    (ApogeeOf(mid, burn) < apogee ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

uint32_t Word(double altitudeMsl, double volts, bool aOn, bool bOn, bool aCont, bool bCont) {
  long tenths = std::lround(altitudeMsl * 10.0);
  uint32_t altitude = static_cast<uint32_t>(std::clamp(tenths, 0L, 0xFFFFFL));
  uint32_t voltage = static_cast<uint32_t>(std::clamp(std::lround(volts * 10.0), 0L, 255L));
  return altitude | (voltage << 20) | (bCont ? 1u << 28 : 0) | (aCont ? 1u << 29 : 0) | (bOn ? 1u << 30 : 0) |
         (aOn ? 1u << 31 : 0);
}

// Writes a flight from packet `next` on; false when the memory filled up first.
bool StoreFlight(std::vector<uint8_t>& flash, size_t& next, const SimRecordedFlight& flight) {
  for (size_t first = 0; first < flight.words.size(); first += kSamplesPerPacket) {
    if (next >= kFlashPackets || (next + 1) * kPacketBytes > flash.size()) return false;
    uint8_t* p = &flash[next * kPacketBytes];
    p[0] = first == 0 ? kStartType : kFurtherType;
    p[1] = 0;
    uint16_t temperature = static_cast<uint16_t>(flight.temperatures[first]);
    p[2] = static_cast<uint8_t>(temperature & 0xFF);
    p[3] = static_cast<uint8_t>(temperature >> 8);
    for (int k = 0; k < kSamplesPerPacket; ++k) {
      size_t i = first + static_cast<size_t>(k);
      uint32_t w = i < flight.words.size() ? flight.words[i] : 0xFFFFFFFFu;
      for (int b = 0; b < 4; ++b) p[4 + 4 * k + b] = static_cast<uint8_t>(w >> (8 * b));
    }
    ++next;
  }
  return true;
}

// What a flaky sensor or a brown-out leaves in the record.
void AddGlitches(SimRecordedFlight& flight) {
  auto setAltitudeField = [&](size_t i, uint32_t field) {
    if (i < flight.words.size()) flight.words[i] = (flight.words[i] & 0xFFF00000u) | field;
  };
  setAltitudeField(kSamplesPerPacket * 6 + 4, 0xFFFFF);
  setAltitudeField(kSamplesPerPacket * 6 + 5, 400000);  // 40 km
  setAltitudeField(kSamplesPerPacket * 14 + 11, 0xFFFFF);
  size_t erased = kSamplesPerPacket * 9 + 7;
  if (erased < flight.words.size()) flight.words[erased] = 0xFFFFFFFFu;
}

}  // namespace

SimRecordedFlight SimulateFlight(double groundMsl, double apogeeTarget, double burnSeconds,
                                 const std::array<uint8_t, 22>& settings, uint32_t seed) {
  Random random(seed);
  LineRule lineA = RuleOf(settings, false);
  LineRule lineB = RuleOf(settings, true);
  int machInhibit = settings[3] | (settings[4] << 8);
  double thrust = ThrustFor(apogeeTarget, burnSeconds);
  double drogueRate = 20.0 + 8.0 * random.Uniform();
  double temperature = 16.0 + 8.0 * random.Uniform();
  double temperatureDrift = -0.004 - 0.006 * random.Uniform();  // per second
  double battery = 8.35 + 0.1 * random.Uniform();

  SimRecordedFlight flight;
  FlightState f;
  f.launchSample = kPadSamples;
  int landedAt = -1;
  for (f.sample = 0; f.sample < kMaxSamples; ++f.sample) {
    if (landedAt >= 0 && f.sample >= landedAt + kGroundSamples) break;
    int i = f.sample;
    if (lineA.triggeredAt < 0 && Triggers(lineA, f, machInhibit)) lineA.triggeredAt = i;
    if (lineB.triggeredAt < 0 && Triggers(lineB, f, machInhibit)) lineB.triggeredAt = i;

    double t = (i - f.launchSample) * 0.1;
    double noise = 0.35 * random.Normal();
    double volts = battery - 0.0015 * std::max(t, 0.0) + 0.03 * random.Normal();
    if (lineA.On(i)) volts -= 0.7;
    if (lineB.On(i)) volts -= 0.7;
    flight.words.push_back(Word(groundMsl + f.height + noise, volts, lineA.On(i), lineB.On(i), lineA.Continuity(i),
                                lineB.Continuity(i)));
    double celsius = temperature + temperatureDrift * (i * 0.1) + 0.05 * random.Normal();
    flight.temperatures.push_back(static_cast<int16_t>(std::lround(celsius * 10.0)));

    // Move on to the next sample.
    if (i < f.launchSample || landedAt >= 0) continue;
    for (int step = 0; step < kStepsPerSample; ++step) {
      double flightTime = t + step * kStep;
      if (!f.pastApogee) {
        bool boosting = flightTime < burnSeconds;
        if (!boosting) f.burnedOut = true;
        f.velocity += Acceleration(f.velocity, boosting ? thrust : 0.0) * kStep;
        if (f.burnedOut && f.velocity <= 0) f.pastApogee = true;
      } else {
        double rate = lineB.Fired(i) ? kMainRate : lineA.Fired(i) ? drogueRate : kTumbleRate;
        // Drag that balances gravity at the descent rate of what is deployed.
        double drag = f.velocity < 0 ? kGravity * f.velocity * f.velocity / (rate * rate) : 0.0;
        f.velocity += (drag - kGravity) * kStep;
      }
      f.height += f.velocity * kStep;
      if (f.height <= 0 && f.pastApogee) {
        f.height = 0;
        f.velocity = 0;
        landedAt = i + 1;
        break;
      }
    }
  }
  return flight;
}

void RecordScenarioFlights(SimFlightComputer& device) {
  const SimFlightComputer::Config& config = device.GetConfig();
  if (config.flights == "empty") return;
  Random random(config.seed * 7919u + 17u);
  size_t next = 0;
  uint32_t seed = config.seed * 1000u;
  if (config.flights == "full") {
    // Flight after flight until the memory holds no more; the last is cut short.
    for (;;) {
      double apogee = 300.0 + 1700.0 * random.Uniform();
      double burn = 1.0 + 2.5 * random.Uniform();
      SimRecordedFlight flight = SimulateFlight(config.groundAltitude, apogee, burn, device.settingsStore, seed++);
      if (!StoreFlight(device.flash, next, flight)) return;
    }
  }
  const double apogees[] = {420.0, 1050.0, 1900.0};
  const double burns[] = {1.4, 2.2, 3.1};
  for (int k = 0; k < 3; ++k) {
    double apogee = apogees[k] * (0.93 + 0.14 * random.Uniform());
    SimRecordedFlight flight = SimulateFlight(config.groundAltitude, apogee, burns[k], device.settingsStore, seed++);
    if (config.flights == "glitch" && k == 1) AddGlitches(flight);
    if (!StoreFlight(device.flash, next, flight)) return;
  }
}
