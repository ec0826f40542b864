// ulktool plot, run as the user runs it: the PNG it writes, read back.
#include <cairo.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/TestSupport.h"

namespace {

constexpr uint32_t kLightBlue = 0xB4B4FF;

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

}  // namespace

TEST(PlotCommand, WritesThePngOfDataSetZero) {
  ScratchDir dir;
  std::string fixture = FixturePath("small-flight.ulk").string();
  ASSERT_EQ(RunTool("plot '" + fixture + "' '" + dir.Path("plot.png") + "' --size 640x480").status, 0);
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

  ASSERT_EQ(RunTool("plot '" + fixture + "' '" + dir.Path("default.png") + "'").status, 0);
  ASSERT_TRUE(ReadPng(dir.Path("default.png"), png));
  EXPECT_EQ(png.width, 1280);
  EXPECT_EQ(png.height, 800);
}

TEST(PlotCommand, RefusesBadArgumentsAndFiles) {
  ScratchDir dir;
  std::string fixture = "'" + FixturePath("small-flight.ulk").string() + "'";
  std::string out = "'" + dir.Path("out.png") + "'";
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
      {"plot '" + dir.Path("missing.ulk") + "' " + out, 1},
      {"plot '" + dir.Path("junk.ulk") + "' " + out, 1},
      {"plot " + fixture + " '" + dir.Path("no/such/dir.png") + "'", 1},
  };
  for (const Case& c : cases) EXPECT_EQ(RunTool(c.arguments).status, c.status) << c.arguments;
  EXPECT_FALSE(std::filesystem::exists(dir.Path("out.png")));
}
