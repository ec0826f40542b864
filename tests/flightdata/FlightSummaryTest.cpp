#include <gtest/gtest.h>

#include <algorithm>

#include "device/Altimeter.h"
#include "flightdata/FlightSummary.h"
#include "tests/flightdata/FlightTestSupport.h"

namespace {

constexpr uint32_t kLineA = 8, kLineB = 4;  // bits 31 and 30 of a word

TEST(FlightSummary, SummarisesTheDecodedSet) {
  CAltimeter alt;
  // Two equal highest samples (the first is the apogee), line A from the
  // third sample, line B from the fourth, the coldest packet last.
  alt.packets = {MakePacket(2,
                            {SampleWord(10000, 84), SampleWord(10100, 83), SampleWord(10300, 80, kLineA),
                             SampleWord(10300, 82, kLineA | kLineB), SampleWord(10200, 81, kLineB)},
                            215),
                 MakePacket(3, {SampleWord(10000, 79)}, -12)};
  ASSERT_TRUE(alt.SelectDataSet(0));
  FlightSummary s = SummariseFlight(alt.flight);

  EXPECT_EQ(s.samples, 6u);
  EXPECT_DOUBLE_EQ(s.duration, 0.5);
  EXPECT_DOUBLE_EQ(s.groundAltitudeMsl.value(), 1000.0);
  EXPECT_DOUBLE_EQ(s.apogeeAgl.value(), 30.0);
  EXPECT_DOUBLE_EQ(s.apogeeTime.value(), 0.2);
  EXPECT_DOUBLE_EQ(s.lineAFirstFired.value(), 0.2);
  EXPECT_DOUBLE_EQ(s.lineBFirstFired.value(), 0.3);
  EXPECT_DOUBLE_EQ(s.batteryMin.value(), 7.9);
  EXPECT_DOUBLE_EQ(s.temperatureMin.value(), -1.2);
  EXPECT_DOUBLE_EQ(s.temperatureMax.value(), 21.5);
  // The peak velocity is the first sample of the highest estimate.
  const std::vector<double>& v = alt.flight.velocity;
  size_t fastest = static_cast<size_t>(std::max_element(v.begin(), v.end()) - v.begin());
  EXPECT_EQ(s.maxVelocity.value(), v[fastest]);
  EXPECT_DOUBLE_EQ(s.maxVelocityTime.value(), static_cast<double>(fastest) * 0.1);
}

TEST(FlightSummary, WhatASetDoesNotHoldIsMissing) {
  CAltimeter alt;
  alt.packets = {MakePacket(2), MakePacket(2, {SampleWord(5000), SampleWord(5100)})};

  ASSERT_TRUE(alt.SelectDataSet(0));
  FlightSummary none = SummariseFlight(alt.flight);
  EXPECT_EQ(none.samples, 0u);
  EXPECT_EQ(none.duration, 0.0);
  for (const std::optional<double>* value :
       {&none.groundAltitudeMsl, &none.apogeeAgl, &none.apogeeTime, &none.maxVelocity, &none.maxVelocityTime,
        &none.lineAFirstFired, &none.lineBFirstFired, &none.batteryMin, &none.temperatureMin, &none.temperatureMax})
    EXPECT_FALSE(value->has_value());

  ASSERT_TRUE(alt.SelectDataSet(1));
  FlightSummary unfired = SummariseFlight(alt.flight);
  EXPECT_EQ(unfired.samples, 2u);
  EXPECT_TRUE(unfired.apogeeAgl.has_value());
  EXPECT_FALSE(unfired.lineAFirstFired.has_value());
  EXPECT_FALSE(unfired.lineBFirstFired.has_value());
}

}  // namespace
