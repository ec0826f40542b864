// ulktool plot: data set 0 of a file drawn as the main window draws it, to PNG.
#include <charconv>

#include "device/Altimeter.h"
#include "tool/Tool.h"

#ifdef ULK_HAVE_CAIRO
#include "plot/RasterCanvasCairo.h"
#endif

namespace {

#ifdef ULK_HAVE_CAIRO

bool ParseSide(const std::string& text, int& side) {
  const char* end = text.data() + text.size();
  auto [next, error] = std::from_chars(text.data(), end, side);
  return error == std::errc() && next == end && side >= 1 && side <= RasterCanvas::kMaxSide;
}

bool ParseSize(const std::string& text, int& width, int& height) {
  size_t x = text.find('x');
  if (x == std::string::npos) return false;
  return ParseSide(text.substr(0, x), width) && ParseSide(text.substr(x + 1), height);
}

int RunPlot(ToolContext& context) {
  std::string size = "1280x800";
  bool ok = true;
  context.TakeOption("--size", size, ok);
  if (!ok) return context.Usage("--size needs WxH");
  int width = 0;
  int height = 0;
  if (!ParseSize(size, width, height))
    return context.Usage("--size must be WxH, each side 1 to " + std::to_string(RasterCanvas::kMaxSide));
  if (context.args.size() != 2) return context.Usage("plot takes a data set file and a PNG file");
  const std::string& input = context.args[0];
  const std::string& output = context.args[1];

  CAltimeter altimeter;
  if (!altimeter.LoadDataSet(Widen(input))) {
    context.err << "ulktool: " << input << ": Could not load file. Make sure the file is valid and not locked.\n";
    return kExitFailed;
  }
  altimeter.plotFrame.width = width;
  altimeter.plotFrame.height = height;
  altimeter.SelectPlotSet(0);
  RasterCanvas canvas(width, height);
  if (!canvas.Valid()) {
    context.err << "ulktool: cannot make a " << size << " image\n";
    return kExitFailed;
  }
  altimeter.RenderPlot(canvas);
  if (!canvas.WritePng(output)) {
    context.err << "ulktool: cannot write " << output << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

#else

int RunPlot(ToolContext& context) {
  context.err << "ulktool: plot is not available in this build\n";
  return kExitFailed;
}

#endif

}  // namespace

ULK_TOOL_COMMAND("plot", "plot FILE.ulk OUT.png [--size WxH]", "draw data set 0 of a file as a PNG (default 1280x800)",
                 RunPlot);
