// ulktool plot: data set 0 of a file drawn as the main window draws it, to PNG.
#include <CLI/CLI.hpp>
#include <charconv>
#include <memory>

#include "device/Altimeter.h"
#include "tool/Tool.h"

#ifdef ULK_HAVE_CAIRO
#include "plot/RasterCanvasCairo.h"
#endif

namespace {

struct PlotOptions {
  std::string input, output;
  std::string size = "1280x800";
};

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

int RunPlot(ToolContext& context, const PlotOptions& o) {
  int width = 0;
  int height = 0;
  if (!ParseSize(o.size, width, height))
    return context.Usage("--size must be WxH, each side 1 to " + std::to_string(RasterCanvas::kMaxSide));

  CAltimeter altimeter;
  bool loaded = false;
  if (IsStandardStream(o.input)) {
    context.BinaryIn();
    loaded = altimeter.LoadDataSet(context.in);
  } else {
    loaded = altimeter.LoadDataSet(Widen(o.input));
  }
  if (!loaded) {
    context.err << "ulktool: " << o.input << ": Could not load file. Make sure the file is valid and not locked.\n";
    return kExitFailed;
  }
  altimeter.plotFrame.width = width;
  altimeter.plotFrame.height = height;
  altimeter.SelectPlotSet(0);
  RasterCanvas canvas(width, height);
  if (!canvas.Valid()) {
    context.err << "ulktool: cannot make a " << o.size << " image\n";
    return kExitFailed;
  }
  altimeter.RenderPlot(canvas);
  bool written = false;
  if (IsStandardStream(o.output)) {
    context.BinaryOut();
    written = canvas.WritePng(context.out);
  } else {
    written = canvas.WritePng(o.output);
  }
  if (!written) {
    context.err << "ulktool: cannot write " << o.output << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

#else

int RunPlot(ToolContext& context, const PlotOptions&) {
  context.err << "ulktool: plot is not available in this build\n";
  return kExitFailed;
}

#endif

ToolRunner DeclarePlot(CLI::App& command) {
  auto o = std::make_shared<PlotOptions>();
  command.add_option("FILE", o->input, "the data set file (- for standard input)")->required();
  command.add_option("OUT", o->output, "the PNG file to write (- for standard output)")->required();
  command.add_option("--size", o->size, "the image's width and height in pixels (default 1280x800)")->type_name("WxH");
  return [o](ToolContext& context) { return RunPlot(context, *o); };
}

}  // namespace

ULK_TOOL_COMMAND("plot", "plot FILE.ulk OUT.png [--size WxH]", "draw data set 0 of a file as a PNG (default 1280x800)",
                 DeclarePlot);
