// A believable recorded flight for the emulation tests, ten samples a second.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

// 3 s on the pad, a 1.5 s boost, a coast with drag to apogee, a drogue descent
// to 150 m, the main to the ground and 10 s on the ground, with a little
// barometer noise; altitudes above sea level at single precision, as decoded.
struct TestFlight {
  std::vector<double> msl;
  int launch = 30;  // first sample off the pad
  int burnout = 0;
  int apogee = 0;   // highest sample
  int main = 0;     // first sample at or below 150 m on the way down
  int landed = 0;   // first sample on the ground again
};

inline TestFlight MakeTestFlight() {
  TestFlight f;
  const double ground = 1320.0, dt = 0.1;
  double h = 0, v = 0;
  auto add = [&](double agl) {
    double noise = 0.4 * std::sin(static_cast<double>(f.msl.size()) * 1.7);
    f.msl.push_back(static_cast<float>(ground + agl + noise));
  };
  for (int i = 0; i < f.launch; ++i) add(0);
  for (int i = 0; i < 15; ++i) {
    v += (100.0 - 9.81 - 0.0008 * v * v) * dt;
    h += v * dt;
    add(h);
  }
  f.burnout = static_cast<int>(f.msl.size()) - 1;
  while (v > 0) {
    v -= (9.81 + 0.0008 * v * v) * dt;
    h += v * dt;
    add(h);
  }
  f.apogee = static_cast<int>(std::max_element(f.msl.begin(), f.msl.end()) - f.msl.begin());
  while (h > 150) {
    v = std::max(v - 9.81 * dt, -25.0);
    h += v * dt;
    add(h);
  }
  f.main = static_cast<int>(f.msl.size()) - 1;
  while (h > 0) {
    h = std::max(0.0, h - 6.0 * dt);
    add(h);
  }
  f.landed = static_cast<int>(f.msl.size()) - 1;
  for (int i = 0; i < 100; ++i) add(0);
  return f;
}
