#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "device/Altimeter.h"
#include "plot/RasterCanvasCairo.h"
#include "plot/SeriesPath.h"

namespace {

constexpr uint32_t kLightBlue = 0xB4B4FF;

// A full memory's worth of climb, descent and sensor noise that jumps within
// each pixel column.
std::vector<double> NoisyFlight() {
  std::vector<double> series(22800);
  uint32_t noise = 12345;
  for (size_t i = 0; i < series.size(); ++i) {
    noise = noise * 1103515245u + 12345u;
    double t = static_cast<double>(i) / 22800;
    series[i] = 2000 * std::sin(3.14159 * t) * std::exp(-2 * t) + static_cast<double>((noise >> 16) % 40) - 20;
  }
  return series;
}

size_t DifferentPixels(RasterCanvas& a, RasterCanvas& b) {
  std::vector<uint32_t> pa = a.Pixels(), pb = b.Pixels();
  size_t different = 0;
  for (size_t i = 0; i < pa.size(); ++i) different += pa[i] != pb[i];
  return different;
}

}  // namespace

TEST(RasterCanvas, ReducedSeriesLooksLikeEverySegmentDrawn) {
  CAltimeter alt;
  alt.plotFrame = PlotFrame{0, -100, 2280, 1400, 1000, 600};
  const std::vector<double> series = NoisyFlight();
  for (float width : {1.0f, 2.0f, 3.0f, 15.0f}) {
    SCOPED_TRACE(width);
    const PlotPen pen{kPlotRed, width};
    RasterCanvas plain(1000, 600), reduced(1000, 600);
    ASSERT_TRUE(plain.Valid() && reduced.Valid());
    plain.Clear(kLightBlue);
    reduced.Clear(kLightBlue);
    std::vector<PlotPoint> points;
    MapSeries(alt, series, points);
    DrawSegments(plain, pen, points);
    alt.DrawSeries(reduced, pen, series);

    size_t drawn = 0;
    for (uint32_t pixel : plain.Pixels()) drawn += pixel == 0xFF0000;
    ASSERT_GT(drawn, 5000u);  // the curve is really there
    EXPECT_EQ(DifferentPixels(plain, reduced), 0u);
  }
}

TEST(RasterCanvas, RendersTheSetOverTheLightBlueBackground) {
  CAltimeter alt;
  FlightData& f = alt.flight;
  f.altitudeMsl = {100, 120, 150, 150, 130};
  f.altitudeAgl = {0, 20, 50, 50, 30};
  f.velocity = {0, 0, 0, 0, 0};
  f.velocityKmh = f.velocity;
  f.rawSamples = {0, 0, 0x40000000u, 0, 0};
  f.selectedSet = 0;
  alt.plotFrame = PlotFrame{0, -10, 2, 120, 1100, 700};  // MapX(t) = 500 t + 50, MapY(v) = 600 - 5 v
  RasterCanvas canvas(1100, 700);
  alt.RenderPlot(canvas);
  EXPECT_EQ(canvas.Pixel(700, 200), kLightBlue);
  EXPECT_EQ(canvas.Pixel(175, 350), 0xFF0000u);   // the flat top of the altitude curve
  EXPECT_EQ(canvas.Pixel(1000, 600), 0x0000FFu);  // ground line
  EXPECT_EQ(canvas.Pixel(130, 606), 0x0000FFu);   // the Line B bar, 15 pixels thick
  EXPECT_EQ(canvas.Pixel(130, 610), kLightBlue);
  // Text is drawn somewhere in the legend's first line.
  size_t red = 0;
  for (int y = 10; y < 30; ++y)
    for (int x = 10; x < 150; ++x) red += canvas.Pixel(x, y) != kLightBlue;
  EXPECT_GT(red, 50u);
}

TEST(RasterCanvas, RefusesSizesItCannotMake) {
  for (auto [w, h] : {std::pair{0, 10}, {10, -1}, {RasterCanvas::kMaxSide + 1, 10}}) {
    RasterCanvas canvas(w, h);
    EXPECT_FALSE(canvas.Valid());
    EXPECT_FALSE(canvas.Clear(0));
    canvas.DrawLine({}, {0, 0}, {5, 5});
    EXPECT_FALSE(canvas.WritePng("/dev/null"));
  }
}
