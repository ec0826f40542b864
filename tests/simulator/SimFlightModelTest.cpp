#include <cmath>

#include "device/Altimeter.h"
#include "simulator/SimFlightComputer.h"
#include "simulator/SimFlightModel.h"
#include "tests/TestSupport.h"
#include "tests/flightdata/FlightTestSupport.h"

namespace {

SimFlightComputer::Config ConfigOf(const std::string& flights, uint32_t seed = 1, double ground = 1320.0) {
  SimFlightComputer::Config config;
  config.flights = flights;
  config.seed = seed;
  config.groundAltitude = ground;
  return config;
}

// The device's memory as a download stores it: every packet up to the first erased one.
size_t LoadWritten(const SimFlightComputer& device, CAltimeter& alt) {
  alt.packets.clear();
  for (size_t i = 0; i < 1520; ++i) {
    CFlashPacket p = CFlashPacket::FromBytes(&device.flash[64 * i]);
    if (p.type == kErasedType) break;
    alt.packets.push_back(p);
  }
  return alt.packets.size();
}

TEST(SimFlightModel, ScenariosFillTheMemoryInTheDevicesLayout) {
  struct Case {
    const char* flights;
    int32_t sets;
    bool full;
  };
  for (Case c : {Case{"three", 3, false}, Case{"empty", 0, false}, Case{"full", -1, true}, Case{"glitch", 3, false}}) {
    SCOPED_TRACE(c.flights);
    SimFlightComputer device(ConfigOf(c.flights));
    CAltimeter alt;
    size_t written = LoadWritten(device, alt);
    if (c.sets >= 0) {
      EXPECT_EQ(alt.CountDataSets(), c.sets);
    }
    if (c.full) {
      EXPECT_EQ(written, 1520u);
      EXPECT_GT(alt.CountDataSets(), 10);
    } else {
      // Erased after the last set, to the end.
      for (size_t i = 64 * written; i < device.flash.size(); ++i) ASSERT_EQ(device.flash[i], 0xFF) << i;
    }
    for (int32_t s = 0; s < alt.CountDataSets(); ++s) {
      size_t first = static_cast<size_t>(alt.FirstPacketOfSet(s));
      size_t count = alt.PacketCountOfSet(s);
      ASSERT_GE(count, 2u);
      for (size_t p = first + 1; p < first + count; ++p) EXPECT_NE(alt.packets[p].type, kErasedType);
      bool lastOfMemory = c.full && first + count == 1520;
      if (lastOfMemory) continue;
      // Unused words of a set's last packet are 0xFFFFFFFF, and only at its end.
      const CFlashPacket& last = alt.packets[first + count - 1];
      bool seenEmpty = false;
      for (uint32_t w : last.samples) {
        if (w == kNoSample) seenEmpty = true;
        if (seenEmpty && c.flights != std::string("glitch")) {
          EXPECT_EQ(w, kNoSample);
        }
      }
      EXPECT_NE(last.samples[0], kNoSample);
    }
  }
}

TEST(SimFlightModel, TheGlitchScenarioHasImplausibleAltitudesAndAnErasedWordMidPacket) {
  SimFlightComputer clean(ConfigOf("three"));
  SimFlightComputer glitch(ConfigOf("glitch"));
  CAltimeter alt;
  LoadWritten(glitch, alt);
  size_t first = static_cast<size_t>(alt.FirstPacketOfSet(1));
  size_t count = alt.PacketCountOfSet(1);
  int implausible = 0, erasedMidPacket = 0;
  for (size_t p = first; p < first + count - 1; ++p) {
    for (size_t k = 0; k < 15; ++k) {
      uint32_t w = alt.packets[p].samples[k];
      if (w == kNoSample && k > 0 && k < 14) ++erasedMidPacket;
      if (w != kNoSample && (w & 0xFFFFF) * 0.1 > 32760.0) ++implausible;
    }
  }
  EXPECT_GE(implausible, 2);
  EXPECT_EQ(erasedMidPacket, 1);
  // Decoded, the glitches hold the last valid altitude and the erased word cuts its packet short.
  ASSERT_TRUE(alt.SelectDataSet(1));
  for (double a : alt.flight.altitudeMsl) EXPECT_LT(a, 1320.0 + 2500.0);
  CAltimeter reference;
  LoadWritten(clean, reference);
  ASSERT_TRUE(reference.SelectDataSet(1));
  EXPECT_LT(alt.flight.altitudeMsl.size(), reference.flight.altitudeMsl.size());
}

TEST(SimFlightModel, RecordedFlightsAreBelievable) {
  SimFlightComputer device(ConfigOf("three", 1, 1480.0));
  CAltimeter alt;
  LoadWritten(device, alt);
  double previousApogee = 0;
  for (int32_t s = 0; s < 3; ++s) {
    SCOPED_TRACE(s);
    ASSERT_TRUE(alt.SelectDataSet(s));
    const FlightData& f = alt.flight;
    size_t n = f.altitudeMsl.size();
    ASSERT_GT(n, 200u);
    EXPECT_NEAR(f.altitudeMsl[0], 1480.0, 2.0);
    size_t apogee = static_cast<size_t>(alt.IndexOfMaximum(f.altitudeAgl));
    double height = f.altitudeAgl[apogee];
    EXPECT_GT(height, 300.0);
    EXPECT_LT(height, 2200.0);
    EXPECT_GT(height, previousApogee * 1.5);  // three different heights, low to high
    previousApogee = height;
    EXPECT_GT(apogee * 0.1, 5.0);
    EXPECT_NEAR(f.altitudeAgl[n - 1], 0.0, 2.0);  // landed
    // The descent is fast under the drogue, slow under the main.
    size_t mainAt = 0, lineAAt = 0;
    for (size_t i = 0; i < n; ++i) {
      if (!lineAAt && (f.rawSamples[i] >> 31)) lineAAt = i;
      if (!mainAt && ((f.rawSamples[i] >> 30) & 1)) mainAt = i;
    }
    ASSERT_GT(lineAAt, 0u);
    ASSERT_GT(mainAt, lineAAt);
    EXPECT_LE(std::abs(static_cast<int>(lineAAt) - static_cast<int>(apogee)), 10);
    EXPECT_NEAR(f.altitudeAgl[mainAt], 150.0, 10.0);
    double drogueRate = (f.altitudeAgl[mainAt - 60] - f.altitudeAgl[mainAt - 10]) / 5.0;
    double mainRate = (f.altitudeAgl[mainAt + 30] - f.altitudeAgl[mainAt + 130]) / 10.0;
    EXPECT_GT(drogueRate, 15.0);
    EXPECT_LT(drogueRate, 35.0);
    EXPECT_GT(mainRate, 4.0);
    EXPECT_LT(mainRate, 8.0);
    // Each line is on for its 2 s, sags the battery and loses its continuity.
    for (auto [at, onBit, contBit] : {std::tuple{lineAAt, 31, 29}, std::tuple{mainAt, 30, 28}}) {
      int on = 0;
      for (size_t i = 0; i < n; ++i) on += (f.rawSamples[i] >> onBit) & 1;
      EXPECT_EQ(on, 20);
      EXPECT_EQ((f.rawSamples[at - 1] >> contBit) & 1, 1u);
      EXPECT_EQ((f.rawSamples[at + 25] >> contBit) & 1, 0u);
      EXPECT_LT(f.batteryVoltage[at + 5], f.batteryVoltage[at - 5] - 0.3);
    }
    EXPECT_NEAR(f.batteryVoltage[0], 8.4, 0.15);
    // Barometric noise on the pad, in tenths of a metre; a slowly drifting temperature.
    double spread = 0;
    for (size_t i = 0; i < 10; ++i) spread = std::max(spread, std::fabs(f.altitudeAgl[i]));
    EXPECT_GT(spread, 0.05);
    EXPECT_LT(spread, 2.0);
    EXPECT_LT(std::fabs(f.temperature[n - 1] - f.temperature[0]), 3.0);
    EXPECT_GT(f.temperature[0], 10.0);
  }
}

TEST(SimFlightModel, LinesFollowTheSettingsAndASeedGivesTheSameFlight) {
  // Line A 3.0 s after launch, Line B disabled.
  std::array<uint8_t, 22> settings = {0x01, 0x3C, 0x00, 0x14, 0x00, 0x50, 0x00, 0x00, 0x01, 0x1E, 0x00,
                                      0x96, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x0A, 0x14, 0x00, 0x00};
  SimRecordedFlight flight = SimulateFlight(1320.0, 800.0, 2.0, settings, 7);
  int firstA = -1, onA = 0, onB = 0;
  for (size_t i = 0; i < flight.words.size(); ++i) {
    uint32_t w = flight.words[i];
    if (w >> 31) {
      if (firstA < 0) firstA = static_cast<int>(i);
      ++onA;
    }
    onB += (w >> 30) & 1;
    EXPECT_EQ((w >> 28) & 1, 1u);  // Line B never fires, so keeps its continuity
  }
  EXPECT_EQ(firstA, 10 + 30);  // one second on the pad, then 3.0 s
  EXPECT_EQ(onA, 10);
  EXPECT_EQ(onB, 0);

  SimRecordedFlight again = SimulateFlight(1320.0, 800.0, 2.0, settings, 7);
  EXPECT_EQ(again.words, flight.words);
  EXPECT_NE(SimulateFlight(1320.0, 800.0, 2.0, settings, 8).words, flight.words);
  EXPECT_EQ(SimFlightComputer(ConfigOf("three", 3)).flash, SimFlightComputer(ConfigOf("three", 3)).flash);
}

}  // namespace
