// The plot of the selected data set and the live download plot, drawn on any
// PlotCanvas.
#include <algorithm>
#include <climits>
#include <cmath>
#include <locale>
#include <mutex>
#include <sstream>

#include "device/Altimeter.h"
#include "device/TraceLog.h"
#include "plot/PlotCanvas.h"
#include "plot/SeriesPath.h"

namespace {

constexpr uint32_t kPlotBackground = 0x00B4B4FF;
constexpr uint32_t kLiveBackground = 0x00808080;
constexpr uint32_t kLineAOn = 0x80000000u;
constexpr uint32_t kLineBOn = 0x40000000u;
constexpr float kFeetPerMetre = 3.2808399f;
constexpr float kFeetPerSecondPerKmh = 0.911344f;
constexpr int kLabelRise = 30;

// Far outside any window, yet well inside what the drawing layers take; only a
// degenerate frame gets here, and a truncation beyond int would be undefined.
constexpr double kFarPixel = 1000000.0;

int ToPixel(double value) {
  if (!(value > -kFarPixel)) return -static_cast<int>(kFarPixel);  // also NaN
  if (value > kFarPixel) return static_cast<int>(kFarPixel);
  return static_cast<int>(value);  // toward zero
}

// A span of 0 (under ten samples, a flat set, the preview before 1 m) is taken
// as 1 so that the mapping never divides by zero.
double SpanOrOne(int32_t span) { return span == 0 ? 1.0 : static_cast<double>(span); }

int32_t TruncateToInt32(double value) {
  if (!(value > static_cast<double>(INT32_MIN))) return INT32_MIN;
  if (value >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(value);
}

double SampleTime(size_t i) { return static_cast<double>(i) / 10; }

// Label numbers are written as a default wide stream writes a float.
std::wostringstream LabelStream() {
  std::wostringstream text;
  text.imbue(std::locale::classic());
  return text;
}

}  // namespace

void MapSeries(const CAltimeter& plot, const std::vector<double>& series, std::vector<PlotPoint>& points) {
  points.clear();
  points.reserve(series.size());
  for (size_t i = 0; i < series.size(); ++i) points.push_back({plot.MapX(SampleTime(i)), plot.MapY(series[i])});
}

void ReduceToColumns(const std::vector<PlotPoint>& points, std::vector<PlotPoint>& reduced) {
  reduced.clear();
  size_t start = 0;
  while (start < points.size()) {
    size_t end = start + 1;
    size_t lowest = start;
    size_t highest = start;
    while (end < points.size() && points[end].x == points[start].x) {
      if (points[end].y < points[lowest].y) lowest = end;
      if (points[end].y > points[highest].y) highest = end;
      ++end;
    }
    size_t last = end - 1;
    size_t middle[2] = {std::min(lowest, highest), std::max(lowest, highest)};
    reduced.push_back(points[start]);
    size_t previous = start;
    for (size_t index : {middle[0], middle[1], last}) {
      if (index == previous) continue;
      reduced.push_back(points[index]);
      previous = index;
    }
    start = end;
  }
}

void DrawSegments(PlotCanvas& canvas, const PlotPen& pen, const std::vector<PlotPoint>& points) {
  for (size_t i = 1; i < points.size(); ++i) canvas.DrawLine(pen, points[i - 1], points[i]);
}

void DrawColumns(PlotCanvas& canvas, const PlotPen& pen, const std::vector<PlotPoint>& reduced) {
  size_t start = 0;
  while (start < reduced.size()) {
    if (start > 0) canvas.DrawLine(pen, reduced[start - 1], reduced[start]);
    const int x = reduced[start].x;
    int lowest = reduced[start].y;
    int highest = lowest;
    size_t end = start + 1;
    for (; end < reduced.size() && reduced[end].x == x; ++end) {
      lowest = std::min(lowest, reduced[end].y);
      highest = std::max(highest, reduced[end].y);
    }
    if (lowest != highest) canvas.DrawLine(pen, {x, lowest}, {x, highest});
    start = end;
  }
}

bool CAltimeter::SelectPlotSet(int32_t set) {
  if (set == -1) return false;
  SelectDataSet(set);
  const size_t n = flight.smoothedAltitude.size();
  int32_t lowest = INT32_MAX;
  int32_t highest = INT32_MIN;
  for (size_t i = 0; i < n; ++i) {
    int32_t altitude = TruncateToInt32(flight.smoothedAltitude[i]);
    lowest = std::min(lowest, altitude);
    highest = std::max(highest, altitude);
    if (i < flight.velocityKmh.size()) {
      int32_t velocity = TruncateToInt32(flight.velocityKmh[i]);
      lowest = std::min(lowest, velocity);
      highest = std::max(highest, velocity);
    }
  }
  plotFrame.xOrigin = 0;
  plotFrame.xSpan = static_cast<int32_t>(n / 10);
  if (n == 0) {
    // Nothing will be drawn; the start values would only overflow the span.
    plotFrame.yMin = 0;
    plotFrame.ySpan = 0;
  } else {
    int64_t span = static_cast<int64_t>(highest) - lowest;
    plotFrame.yMin = lowest;
    plotFrame.ySpan = static_cast<int32_t>(std::min<int64_t>(span, INT32_MAX));
  }
  return true;
}

int CAltimeter::MapX(double seconds) const {
  const PlotFrame& f = plotFrame;
  return ToPixel((seconds - f.xOrigin) * (f.width - 100.0) / SpanOrOne(f.xSpan) + 50);
}

int CAltimeter::MapY(double value) const {
  const PlotFrame& f = plotFrame;
  return ToPixel(f.height - (value - f.yMin) * (f.height - 100.0) / SpanOrOne(f.ySpan) - 50);
}

void CAltimeter::DrawSeries(PlotCanvas& canvas, const PlotPen& pen, const std::vector<double>& series) const {
  if (series.size() < 2) return;
  std::vector<PlotPoint> points;
  std::vector<PlotPoint> reduced;
  MapSeries(*this, series, points);
  ReduceToColumns(points, reduced);
  DrawColumns(canvas, pen, reduced);
}

void CAltimeter::DrawLineStateBars(PlotCanvas& canvas) const {
  const PlotPen red{kPlotRed, 15.0f};
  const PlotPen blue{kPlotBlue, 15.0f};
  const size_t n = std::min(flight.altitudeMsl.size(), flight.rawSamples.size());
  const int ground = MapY(0);
  for (size_t i = 1; i < n; ++i) {
    uint32_t word = flight.rawSamples[i];
    if (!(word & (kLineAOn | kLineBOn))) continue;
    PlotPoint from{MapX(SampleTime(i - 1)) + 8, ground};
    PlotPoint to{MapX(SampleTime(i)) + 8, ground};
    if (word & kLineAOn) canvas.DrawLine(red, from, to);
    if (word & kLineBOn) canvas.DrawLine(blue, from, to);
  }
}

void CAltimeter::DrawLabel(PlotCanvas& canvas, const std::wstring& text, int x, int y, uint32_t brush) const {
  canvas.DrawText(text, PlotFont{}, brush, static_cast<float>(x), static_cast<float>(y));
}

void CAltimeter::RenderPlot(PlotCanvas& canvas) {
  if (!canvas.Clear(kPlotBackground)) return;
  TraceLog << "Updating buffer." << std::endl;
  const bool decoded = !flight.altitudeMsl.empty();
  if (decoded) canvas.DrawLine({kPlotBlue, 1.0f}, {0, MapY(0)}, {canvas.Width(), MapY(0)});
  DrawSeries(canvas, {kPlotRed, 2.0f}, flight.altitudeAgl);
  DrawSeries(canvas, {kPlotGreen, 2.0f}, flight.velocityKmh);
  DrawLineStateBars(canvas);

  int32_t apogee = IndexOfMaximum(flight.altitudeAgl);
  if (apogee >= 0 && static_cast<size_t>(apogee) < flight.altitudeAgl.size()) {
    float t = static_cast<float>(apogee) / 10;
    float a = static_cast<float>(flight.altitudeAgl[static_cast<size_t>(apogee)]);
    std::wostringstream text = LabelStream();
    text << L"(" << t << L" s  " << a << L" m / " << a * kFeetPerMetre << L" ft)";
    DrawLabel(canvas, text.str(), MapX(t), MapY(a) - kLabelRise, kPlotBlue);
  }
  int32_t peak = IndexOfMaximum(flight.velocity);
  if (peak >= 0 && static_cast<size_t>(peak) < flight.velocity.size()) {
    float t = static_cast<float>(peak) / 10;
    float v = static_cast<float>(flight.velocity[static_cast<size_t>(peak)] * 3.6);
    std::wostringstream text = LabelStream();
    text << L"(" << t << L" s  " << v << L" km/h / " << v * kFeetPerSecondPerKmh << L" ft/s)";
    DrawLabel(canvas, text.str(), MapX(t), MapY(v) - kLabelRise, kPlotBlue);
  }
  if (decoded) {
    DrawLabel(canvas, L"Ground", 100, MapY(0) - kLabelRise, kPlotBlue);
    DrawLabel(canvas, L"Smoothed altitude", 10, 10, kPlotRed);
    DrawLabel(canvas, L"<Velocity> over 1 second", 10, 50, kPlotGreen);
    std::wostringstream set = LabelStream();
    set << L"Data set: " << flight.selectedSet + 1;
    DrawLabel(canvas, set.str(), 10, 90, kPlotBlue);
  }
}

void CAltimeter::RenderLivePlot(PlotCanvas& canvas) {
  if (!canvas.Clear(kLiveBackground)) return;
  // The download's worker feeds the record; draw from a copy so that the lock
  // is not held while drawing.
  std::vector<double> altitude;
  std::array<int32_t, 4> bounds;
  float timeOfMax;
  float maxAltitude;
  {
    std::lock_guard<std::recursive_mutex> lock(dataLock);
    altitude = livePreview.altitude;
    bounds = livePreview.bounds;
    timeOfMax = livePreview.timeOfMax;
    maxAltitude = livePreview.maxAltitude;
  }
  plotFrame.xOrigin = bounds[0];
  plotFrame.yMin = bounds[1];
  plotFrame.xSpan = bounds[2];
  plotFrame.ySpan = bounds[3];
  canvas.DrawLine({kPlotBlue, 3.0f}, {0, MapY(0)}, {canvas.Width(), MapY(0)});
  DrawSeries(canvas, {kPlotRed, 3.0f}, altitude);
  std::wostringstream text = LabelStream();
  text << L"(" << timeOfMax << L" s  " << maxAltitude << L" m)";
  DrawLabel(canvas, text.str(), MapX(timeOfMax), MapY(maxAltitude) - kLabelRise, kPlotBlue);
  DrawLabel(canvas, L"Ground", 100, MapY(0) - kLabelRise, kPlotBlue);
}
