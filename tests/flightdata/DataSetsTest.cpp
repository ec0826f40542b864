#include <algorithm>
#include <cmath>
#include <cstring>

#include "device/Altimeter.h"
#include "tests/TestSupport.h"
#include "tests/flightdata/FlightTestSupport.h"

namespace {

std::vector<CFlashPacket> ImageOfTypes(const std::vector<uint8_t>& types) {
  std::vector<CFlashPacket> image;
  for (uint8_t t : types) image.push_back(MakePacket(t, {SampleWord(10000)}));
  return image;
}

struct LayoutCase {
  const char* name;
  std::vector<uint8_t> types;
  int32_t sets;
  std::vector<int32_t> firstPackets;   // per set
  std::vector<uint16_t> packetCounts;  // per set
  std::vector<int32_t> setOfPacket;    // per packet index
};

TEST(DataSetLayout, SetsAreFoundCountedAndLocated) {
  const std::vector<LayoutCase> cases = {
      {"empty image", {}, 0, {}, {}, {}},
      {"no start packet", {5, 5}, 0, {}, {}, {-1, -1}},
      {"two adjacent starts", {2, 2, 5}, 2, {0, 1}, {1, 2}, {0, 1, 1}},
      {"leading further packets", {5, 2, 7, 2}, 2, {1, 3}, {2, 1}, {-1, 0, 0, 1}},
      {"erased packet ends a set", {2, 5, 0xFF, 5}, 1, {0}, {2}, {0, 0, 0, 0}},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    CAltimeter alt;
    alt.packets = ImageOfTypes(c.types);
    EXPECT_EQ(alt.CountDataSets(), c.sets);
    for (int32_t s = 0; s < c.sets; ++s) {
      EXPECT_EQ(alt.FirstPacketOfSet(s), c.firstPackets[static_cast<size_t>(s)]);
      EXPECT_EQ(alt.PacketCountOfSet(s), c.packetCounts[static_cast<size_t>(s)]);
    }
    EXPECT_EQ(alt.FirstPacketOfSet(c.sets), -1);
    for (size_t p = 0; p < c.setOfPacket.size(); ++p) EXPECT_EQ(alt.SetOfPacket(static_cast<int32_t>(p)), c.setOfPacket[p]);
    EXPECT_EQ(alt.SetOfPacket(-1), -1);
    EXPECT_EQ(alt.SetOfPacket(static_cast<int32_t>(c.types.size())), -1);
  }
}

TEST(DataSetLayout, PacketCountOfSetTracesTheSetAndItsAddress) {
  CAltimeter alt;
  alt.packets = ImageOfTypes({2, 5, 2, 5, 5});
  TraceCapture trace;
  EXPECT_EQ(alt.PacketCountOfSet(1), 3);
  EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"Set: 1", "Set Address: 2"}));
}

TEST(DataSetDecode, MinusOneChangesNothingAndAMissingSetDecodesEmpty) {
  CAltimeter alt;
  alt.packets = {MakePacket(2, {SampleWord(10000), SampleWord(10010)})};
  ASSERT_TRUE(alt.SelectDataSet(0));
  EXPECT_FALSE(alt.SelectDataSet(-1));
  EXPECT_EQ(alt.flight.selectedSet, 0);
  EXPECT_EQ(alt.flight.altitudeMsl.size(), 2u);

  EXPECT_TRUE(alt.SelectDataSet(3));
  EXPECT_EQ(alt.flight.selectedSet, 3);
  EXPECT_TRUE(alt.flight.rawSamples.empty());
  EXPECT_TRUE(alt.flight.velocity.empty());
  EXPECT_EQ(alt.IndexOfMaximum(alt.flight.altitudeAgl), -1);

  // A set whose first word is erased also decodes to nothing.
  alt.packets = {MakePacket(2, {})};
  EXPECT_TRUE(alt.SelectDataSet(0));
  EXPECT_TRUE(alt.flight.altitudeMsl.empty());
  EXPECT_TRUE(alt.flight.smoothedAltitude.empty());
}

TEST(DataSetDecode, AnErasedWordEndsOnlyItsPacketAndTheSetEndsAtTheNextStart) {
  CAltimeter alt;
  alt.packets = {MakePacket(2, {SampleWord(10000), SampleWord(10010), kNoSample, SampleWord(99999)}, 200),
                 MakePacket(7, {SampleWord(10020), SampleWord(10030)}, -15),
                 MakePacket(2, {SampleWord(50000)})};
  ASSERT_TRUE(alt.SelectDataSet(0));
  const FlightData& f = alt.flight;
  ASSERT_EQ(f.rawSamples.size(), 4u);
  EXPECT_EQ(f.rawSamples[2], SampleWord(10020));
  EXPECT_DOUBLE_EQ(f.altitudeMsl[3], static_cast<double>(1003.0f));
  EXPECT_DOUBLE_EQ(f.temperature[1], 200 * 0.1);
  EXPECT_DOUBLE_EQ(f.temperature[2], -15 * 0.1);
  EXPECT_DOUBLE_EQ(f.batteryVoltage[0], 84 * 0.1);
  for (const std::vector<double>* series : {&f.altitudeAgl, &f.smoothedAltitude, &f.velocity, &f.smoothedVelocity,
                                            &f.velocityKmh, &f.batteryVoltage, &f.temperature})
    EXPECT_EQ(series->size(), 4u);
  EXPECT_EQ(f.altitudeAgl[0], 0.0);
  EXPECT_DOUBLE_EQ(f.altitudeAgl[3], static_cast<double>(1003.0f) - static_cast<double>(1000.0f));
  EXPECT_DOUBLE_EQ(f.velocityKmh[2], f.velocity[2] * 3.6);
}

TEST(DataSetDecode, ImplausibleAltitudesTakeTheLastValidOneAcrossSets) {
  CAltimeter alt;
  // 327600 tenths is 32760.0 m exactly; 327601 is 32760.1 m; 0xFFFFF is far above.
  alt.packets = {MakePacket(2, {SampleWord(12346), SampleWord(327600), SampleWord(327601), SampleWord(0xFFFFF)}),
                 MakePacket(2, {SampleWord(0xFFFFF), SampleWord(20000)})};
  ASSERT_TRUE(alt.SelectDataSet(0));
  EXPECT_EQ(alt.flight.altitudeMsl[1], 32760.0);
  EXPECT_EQ(alt.flight.altitudeMsl[2], 32760.0);
  EXPECT_EQ(alt.flight.altitudeMsl[3], 32760.0);
  EXPECT_EQ(LastValidAltitude(), 32760.0f);
  // The next decode starts from what the last one left.
  ASSERT_TRUE(alt.SelectDataSet(1));
  EXPECT_EQ(alt.flight.altitudeMsl[0], 32760.0);
  EXPECT_EQ(alt.flight.altitudeAgl[0], 0.0);
  EXPECT_EQ(alt.flight.altitudeMsl[1], static_cast<double>(2000.0f));
  // Held at single precision before it is widened.
  ASSERT_TRUE(alt.SelectDataSet(0));
  EXPECT_EQ(alt.flight.altitudeMsl[0], static_cast<double>(static_cast<float>(12346 * 0.1)));
  EXPECT_NE(alt.flight.altitudeMsl[0], 12346 * 0.1);
}

TEST(DataSetDecode, TwoSamplesGiveTheHandComputedVelocityAndSmoothing) {
  CAltimeter alt;
  alt.packets = {MakePacket(2, {SampleWord(10000), SampleWord(10070)})};
  ASSERT_TRUE(alt.SelectDataSet(0));
  const FlightData& f = alt.flight;
  ASSERT_EQ(f.velocity.size(), 2u);
  // Windows centred 0..4 over 0, 7 give slopes 1.5, 1.5, 1.25, 0.75, 0;
  // element 0 holds the first output, element 1 the last (centre 4).
  EXPECT_FLOAT_EQ(static_cast<float>(f.velocity[0]), 3.0f);
  EXPECT_FLOAT_EQ(static_cast<float>(f.velocity[1]), 5.5648f);
  // Each smoothing window holds the one other sample.
  EXPECT_EQ(f.smoothedAltitude[0], 0.0);
  double a = std::pow(0.95, 70.0);
  EXPECT_DOUBLE_EQ(f.smoothedAltitude[1], (1 - a) * 7.0);
  double a2 = std::min(std::pow(0.95, std::fabs(f.velocity[1] - f.velocity[0]) * 10), 0.8);
  EXPECT_DOUBLE_EQ(f.smoothedVelocity[0], (1 - 0.8) * f.velocity[0]);
  EXPECT_DOUBLE_EQ(f.smoothedVelocity[1], (1 - a2) * f.velocity[1] + a2 * f.smoothedVelocity[0]);
}

TEST(DataSetDecode, ASteadyClimbReachesItsVelocityAndAFlatSeriesHoldsStill) {
  CAltimeter alt;
  // 50 m/s: 5 m per sample, 60 samples.
  for (int p = 0; p < 4; ++p) alt.packets.push_back(RampPacket(p == 0 ? 2 : 3, 10000 + 750 * p, 50));
  ASSERT_TRUE(alt.SelectDataSet(0));
  const FlightData& f = alt.flight;
  ASSERT_EQ(f.velocity.size(), 60u);
  for (size_t i = 4; i + 4 < f.velocity.size(); ++i) EXPECT_GT(f.velocity[i], f.velocity[i - 1]);
  EXPECT_NEAR(f.velocity[50], 50.0, 0.01);
  EXPECT_LT(f.velocity[50], 50.0);

  // A flat set: every smoothing weight is 1, so the outputs stay at 0.
  alt.packets = {RampPacket(2, 10000, 0)};
  ASSERT_TRUE(alt.SelectDataSet(0));
  for (size_t i = 0; i < 15; ++i) {
    EXPECT_EQ(alt.flight.smoothedAltitude[i], 0.0);
    EXPECT_EQ(alt.flight.velocity[i], 0.0);
  }
}

// The smoothing as it was first written, one sample at a time: the decode
// must give exactly its doubles.
std::vector<double> SmoothOneAtATime(const std::vector<double>& source, double cap) {
  const int n = static_cast<int>(source.size());
  std::vector<double> output(source.size());
  double previous = 0.0;
  for (int i = 0; i < n; ++i) {
    int lo = i < 40 ? -i : -40;
    int hi = i + 40 < n ? 40 : n - 1 - i;
    int d = hi - lo;
    double here = source[static_cast<size_t>(i)];
    double a = 0.0;
    if (d > 0) {
      double sum = 0.0;
      for (int k = i + lo; k < i + hi; ++k) sum += std::fabs(here - source[static_cast<size_t>(k)]);
      a = std::pow(0.95, sum / d * 10 / d);
    }
    a = std::min(a, cap);
    double out = (1 - a) * here + a * previous;
    output[static_cast<size_t>(i)] = out;
    previous = out;
  }
  return output;
}

TEST(DataSetDecode, SmoothingGivesTheSameDoublesAsOneSampleAtATime) {
  // Lengths around the edges of the full windows (40 on each side) and of
  // the blocks of four, over a climb with noise, a drop and a glitch.
  for (size_t length : {1u, 2u, 3u, 40u, 41u, 80u, 81u, 82u, 83u, 84u, 85u, 86u, 87u, 88u, 123u, 1500u}) {
    CAltimeter alt;
    uint32_t noise = 12345;
    std::vector<uint32_t> words;
    for (size_t i = 0; i < length; ++i) {
      noise = noise * 1103515245u + 12345u;
      uint32_t altitude = 10000 + static_cast<uint32_t>(i < 600 ? 9 * i : 5400 - 4 * (i - 600)) + (noise >> 28);
      if (i == 97) altitude += 3000;
      words.push_back(SampleWord(altitude));
    }
    for (size_t p = 0; p * 15 < words.size(); ++p) {
      CFlashPacket packet = MakePacket(p == 0 ? 2 : 3);
      for (size_t j = 0; j < 15 && p * 15 + j < words.size(); ++j) packet.samples[j] = words[p * 15 + j];
      alt.packets.push_back(packet);
    }
    ASSERT_TRUE(alt.SelectDataSet(0));
    const FlightData& f = alt.flight;
    ASSERT_EQ(f.smoothedAltitude.size(), length);
    const std::vector<double> altitude = SmoothOneAtATime(f.altitudeAgl, 1.0);
    const std::vector<double> velocity = SmoothOneAtATime(f.velocity, 0.8);
    EXPECT_EQ(std::memcmp(f.smoothedAltitude.data(), altitude.data(), length * sizeof(double)), 0) << length;
    EXPECT_EQ(std::memcmp(f.smoothedVelocity.data(), velocity.data(), length * sizeof(double)), 0) << length;
  }
}

TEST(DataSetDecode, OneSampleFollowsTheSource) {
  CAltimeter alt;
  alt.packets = {MakePacket(2, {SampleWord(10000)})};
  ASSERT_TRUE(alt.SelectDataSet(0));
  EXPECT_EQ(alt.flight.smoothedAltitude, std::vector<double>{0.0});
  EXPECT_EQ(alt.flight.smoothedVelocity, alt.flight.velocity);
  EXPECT_FALSE(std::isnan(alt.flight.smoothedVelocity[0]));
}

TEST(DataSetDecode, IndexOfMaximumKeepsTheFirstOfEqualPeaks) {
  CAltimeter alt;
  alt.packets = {MakePacket(2, {SampleWord(10000)})};
  EXPECT_EQ(alt.IndexOfMaximum({1.0, 2.0}), -1);  // nothing decoded yet
  ASSERT_TRUE(alt.SelectDataSet(0));
  EXPECT_EQ(alt.IndexOfMaximum({1.0, 5.0, 3.0, 5.0, 4.0}), 1);
  EXPECT_EQ(alt.IndexOfMaximum({-3.0, -1.0, -2.0}), 1);
  EXPECT_EQ(alt.IndexOfMaximum({}), 0);
}

TEST(LivePreviewTest, BoundsGrowInFiveSecondStepsAndResetKeepsThem) {
  struct Case {
    int samples;
    int32_t width;
  };
  for (Case c : {Case{1, 5}, Case{49, 5}, Case{50, 10}, Case{99, 10}, Case{100, 15}}) {
    SCOPED_TRACE(c.samples);
    LivePreview live;
    for (int i = 0; i < c.samples; ++i) live.AddSample(SampleWord(static_cast<uint32_t>(13200 + i)));
    EXPECT_EQ(live.bounds, (std::array<int32_t, 4>{0, 0, c.width, static_cast<int32_t>(live.maxAltitude)}));
  }
  LivePreview live;
  live.AddSample(SampleWord(13200));
  EXPECT_EQ(live.bounds, (std::array<int32_t, 4>{0, 0, 5, 0}));
  EXPECT_DOUBLE_EQ(live.groundLevel, 13200 * 0.1);
  live.AddSample(kNoSample);
  EXPECT_EQ(live.altitude.size(), 1u);
  for (uint32_t a : {13300u, 13450u, 13450u, 13400u}) live.AddSample(SampleWord(a));
  EXPECT_FLOAT_EQ(live.maxAltitude, 25.0f);
  EXPECT_FLOAT_EQ(live.timeOfMax, 0.2f);  // the first of the equal peaks, sample 2
  EXPECT_EQ(live.bounds[3], 25);
  EXPECT_NEAR(live.altitude[4], 20.0, 1e-9);

  live.Reset();
  EXPECT_TRUE(live.altitude.empty());
  EXPECT_EQ(live.maxAltitude, 0.0f);
  EXPECT_EQ(live.timeOfMax, 0.0f);
  EXPECT_EQ(live.bounds[3], 25);
  live.AddSample(SampleWord(20000));  // a new set takes a new ground level
  EXPECT_DOUBLE_EQ(live.groundLevel, 2000.0);
  EXPECT_EQ(live.altitude, std::vector<double>{0.0});
}

}  // namespace
