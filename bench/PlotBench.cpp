// Drawing a full flight memory (22,800 samples) at 1000 pixels wide: every
// segment as recorded versus the column reduction that DrawSeries does.
#include <benchmark/benchmark.h>

#include <time.h>

#include <cmath>

#include "device/Altimeter.h"
#include "plot/RasterCanvasCairo.h"
#include "plot/RecordingCanvas.h"
#include "plot/SeriesPath.h"

namespace {

constexpr int kWidth = 1000;
constexpr int kHeight = 600;
const PlotPen kPen{kPlotRed, 2.0f};

struct FullFlight {
  CAltimeter altimeter;
  std::vector<double> altitude;
  FullFlight() : altitude(22800) {
    uint32_t noise = 1;
    for (size_t i = 0; i < altitude.size(); ++i) {
      noise = noise * 1103515245u + 12345u;
      double t = static_cast<double>(i) / altitude.size();
      altitude[i] = 2000 * std::sin(3.14159 * t) * std::exp(-2 * t) + static_cast<double>((noise >> 16) % 20);
    }
    altimeter.plotFrame = PlotFrame{0, -50, 2280, 2100, kWidth, kHeight};
  }
};

FullFlight& Flight() {
  static FullFlight flight;
  return flight;
}

void DrawPlain(PlotCanvas& canvas) {
  std::vector<PlotPoint> points;
  MapSeries(Flight().altimeter, Flight().altitude, points);
  DrawSegments(canvas, kPen, points);
}

void DrawReduced(PlotCanvas& canvas) { Flight().altimeter.DrawSeries(canvas, kPen, Flight().altitude); }

size_t CountSegments(void (*draw)(PlotCanvas&)) {
  RecordingCanvas canvas(kWidth);
  canvas.keepLines = false;
  draw(canvas);
  return canvas.LineCount();
}

void BM_PlotSegmentsRecorded(benchmark::State& state, void (*draw)(PlotCanvas&)) {
  size_t segments = 0;
  for (auto _ : state) {
    RecordingCanvas canvas(kWidth);
    canvas.keepLines = false;
    draw(canvas);
    segments = canvas.LineCount();
    benchmark::DoNotOptimize(segments);
  }
  state.counters["segments"] = static_cast<double>(segments);
}

void BM_PlotRaster(benchmark::State& state, void (*draw)(PlotCanvas&)) {
  RasterCanvas canvas(kWidth, kHeight);
  for (auto _ : state) {
    canvas.Clear(0xB4B4FF);
    draw(canvas);
    benchmark::DoNotOptimize(canvas.Pixel(500, 300));
  }
}

double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Both ways in one run, so that the ratios stand side by side. Only the
// drawing is timed (processor time of this thread: the machine may be busy);
// reading a pixel makes the canvas finish its strokes.
void BM_PlotReductionRatio(benchmark::State& state) {
  RasterCanvas canvas(kWidth, kHeight);
  double plain = 0, reduced = 0;
  for (auto _ : state) {
    canvas.Clear(0xB4B4FF);
    double start = ThreadSeconds();
    DrawPlain(canvas);
    benchmark::DoNotOptimize(canvas.Pixel(500, 300));
    double middle = ThreadSeconds();
    canvas.Clear(0xB4B4FF);
    double resumed = ThreadSeconds();
    DrawReduced(canvas);
    benchmark::DoNotOptimize(canvas.Pixel(500, 300));
    double end = ThreadSeconds();
    plain += middle - start;
    reduced += end - resumed;
  }
  double plainSegments = static_cast<double>(CountSegments(DrawPlain));
  double reducedSegments = static_cast<double>(CountSegments(DrawReduced));
  state.counters["segments_plain"] = plainSegments;
  state.counters["segments_reduced"] = reducedSegments;
  state.counters["segment_ratio"] = reducedSegments / plainSegments;
  state.counters["time_ratio"] = plain > 0 ? reduced / plain : 0;
}

}  // namespace

BENCHMARK_CAPTURE(BM_PlotSegmentsRecorded, plain, DrawPlain);
BENCHMARK_CAPTURE(BM_PlotSegmentsRecorded, reduced, DrawReduced);
BENCHMARK_CAPTURE(BM_PlotRaster, plain, DrawPlain)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PlotRaster, reduced, DrawReduced)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlotReductionRatio)->Unit(benchmark::kMillisecond);
