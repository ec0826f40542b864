#include <cairo.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "device/Altimeter.h"
#include "plot/RasterCanvasCairo.h"
#include "plot/SeriesPath.h"
#include "tests/TestSupport.h"
#include "tests/flightdata/FlightTestSupport.h"

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

namespace {

struct Png {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFF; }
};

bool ReadPng(const std::filesystem::path& path, Png& png) {
  cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
  bool ok = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
  if (ok) {
    png.width = cairo_image_surface_get_width(surface);
    png.height = cairo_image_surface_get_height(surface);
    int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    for (int y = 0; y < png.height; ++y)
      for (int x = 0; x < png.width; ++x)
        png.pixels.push_back(reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride)[x]);
  }
  cairo_surface_destroy(surface);
  return ok;
}

int RunTool(const std::string& arguments) {
  int status = std::system((std::string(ULKTOOL_PATH) + " " + arguments + " 2>/dev/null").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(PlotCommand, WritesThePngOfDataSetZero) {
  TempDir dir;
  std::string fixture = FixturePath("small-flight.ulk").string();
  ASSERT_EQ(RunTool("plot '" + fixture + "' '" + dir.Path("plot.png").string() + "' --size 640x480"), 0);
  Png png;
  ASSERT_TRUE(ReadPng(dir.Path("plot.png"), png));
  EXPECT_EQ(png.width, 640);
  EXPECT_EQ(png.height, 480);
  size_t red = 0, green = 0;
  for (uint32_t p : png.pixels) {
    red += (p & 0xFFFFFF) == 0xFF0000;
    green += (p & 0xFFFFFF) == 0x008000;
  }
  EXPECT_GT(red, 100u);
  EXPECT_GT(green, 100u);
  EXPECT_EQ(png.At(600, 200), kLightBlue);

  ASSERT_EQ(RunTool("plot '" + fixture + "' '" + dir.Path("default.png").string() + "'"), 0);
  ASSERT_TRUE(ReadPng(dir.Path("default.png"), png));
  EXPECT_EQ(png.width, 1280);
  EXPECT_EQ(png.height, 800);
}

TEST(PlotCommand, RefusesBadArgumentsAndFiles) {
  TempDir dir;
  std::string fixture = "'" + FixturePath("small-flight.ulk").string() + "'";
  std::string out = "'" + dir.Path("out.png").string() + "'";
  WriteFileBytes(dir.Path("junk.ulk"), "not a data set");
  struct Case {
    std::string arguments;
    int status;
  };
  const std::vector<Case> cases = {
      {"plot " + fixture, 2},
      {"plot " + fixture + " " + out + " --size 640", 2},
      {"plot " + fixture + " " + out + " --size 0x480", 2},
      {"plot " + fixture + " " + out + " --size 640x99999", 2},
      {"plot " + fixture + " " + out + " --size", 2},
      {"plot '" + dir.Path("missing.ulk").string() + "' " + out, 1},
      {"plot '" + dir.Path("junk.ulk").string() + "' " + out, 1},
      {"plot " + fixture + " '" + dir.Path("no/such/dir.png").string() + "'", 1},
  };
  for (const Case& c : cases) EXPECT_EQ(RunTool(c.arguments), c.status) << c.arguments;
  EXPECT_FALSE(std::filesystem::exists(dir.Path("out.png")));
}
