#include <cmath>
#include <cstdio>

#include "device/Altimeter.h"
#include "plot/RecordingCanvas.h"
#include "plot/SeriesPath.h"
#include "tests/TestSupport.h"
#include "tests/flightdata/FlightTestSupport.h"

namespace {

// The plot's texts are ASCII.
std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

std::string Describe(const CanvasCall& call) {
  std::ostringstream out;
  switch (call.kind) {
    case CanvasCall::Clear:
      out << "clear " << Hex(call.fill);
      break;
    case CanvasCall::Line:
      out << "line " << Hex(call.pen.argb) << " " << call.pen.width << " " << call.from.x << "," << call.from.y << " "
          << call.to.x << "," << call.to.y;
      break;
    case CanvasCall::Text:
      out << "text " << Hex(call.argb) << " " << call.x << "," << call.y << " " << Narrow(call.fontFamily) << " "
          << call.fontPoints << " " << Narrow(call.text);
      break;
  }
  return out.str();
}

std::vector<std::string> Describe(const RecordingCanvas& canvas) {
  std::vector<std::string> out;
  for (const CanvasCall& call : canvas.calls) out.push_back(Describe(call));
  return out;
}

// Five samples in a frame where MapX(t) = 500 t + 50 (50 pixels a sample) and MapY(v) = 600 - 5 v:
// two equal altitude maxima, Line A alone, both lines, Line B alone.
void FillFixtureFlight(CAltimeter& alt) {
  FlightData& f = alt.flight;
  f.altitudeMsl = {100, 120, 150, 150, 130};
  f.altitudeAgl = {0, 20, 50, 50, 30};
  f.smoothedAltitude = f.altitudeAgl;
  f.velocity = {0, 25, 10, -5, -10};
  f.velocityKmh = {0, 90, 36, -18, -36};
  f.rawSamples = {0, 0x80000000u, 0xC0000000u, 0x30000000u, 0x40000000u};
  f.selectedSet = 2;
  alt.plotFrame = PlotFrame{0, -10, 2, 120, 1100, 700};
}

}  // namespace

TEST(PlotRender, DrawsTheSetInOrderWithItsColoursWidthsAndTexts) {
  CAltimeter alt;
  FillFixtureFlight(alt);
  RecordingCanvas canvas(1100);
  TraceCapture trace;
  alt.RenderPlot(canvas);
  EXPECT_EQ(trace.Lines(), std::vector<std::string>{"Updating buffer."});
  const std::vector<std::string> expected = {
      "clear 00b4b4ff",
      "line ff0000ff 1 0,600 1100,600",
      // altitude above ground
      "line ffff0000 2 50,600 100,500",
      "line ffff0000 2 100,500 150,350",
      "line ffff0000 2 150,350 200,350",
      "line ffff0000 2 200,350 250,450",
      // velocity in km/h
      "line ff008000 2 50,600 100,150",
      "line ff008000 2 100,150 150,420",
      "line ff008000 2 150,420 200,690",
      "line ff008000 2 200,690 250,780",
      // bars: A alone red; both red then blue; B alone blue
      "line ffff0000 15 58,600 108,600",
      "line ffff0000 15 108,600 158,600",
      "line ff0000ff 15 108,600 158,600",
      "line ff0000ff 15 208,600 258,600",
      // the earlier of the two maxima, 30 pixels above it
      "text ff0000ff 150,320 Arial 12 (0.2 s  50 m / 164.042 ft)",
      "text ff0000ff 100,120 Arial 12 (0.1 s  90 km/h / 82.021 ft/s)",
      "text ff0000ff 100,570 Arial 12 Ground",
      "text ffff0000 10,10 Arial 12 Smoothed altitude",
      "text ff008000 10,50 Arial 12 <Velocity> over 1 second",
      "text ff0000ff 10,90 Arial 12 Data set: 3",
  };
  EXPECT_EQ(Describe(canvas), expected);
}

TEST(PlotRender, LabelNumbersAreWrittenAsAStreamWritesAFloat) {
  struct Case {
    double altitude;
    size_t index;
    const char* text;
  };
  const std::vector<Case> cases = {
      {1498.43, 123, "(12.3 s  1498.43 m / 4916.11 ft)"},
      {0.5, 5, "(0.5 s  0.5 m / 1.64042 ft)"},
      {12345.6, 2, "(0.2 s  12345.6 m / 40503.9 ft)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    CAltimeter alt;
    FlightData& f = alt.flight;
    f.altitudeMsl.assign(c.index + 2, 0);
    f.altitudeAgl.assign(c.index + 2, 0);
    f.altitudeAgl[c.index] = c.altitude;
    f.velocity.assign(c.index + 2, 0);
    alt.plotFrame = PlotFrame{0, 0, 20, 20000, 800, 600};
    RecordingCanvas canvas;
    alt.RenderPlot(canvas);
    std::vector<CanvasCall> texts = canvas.Of(CanvasCall::Text);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(Narrow(texts[0].text), c.text);
  }
}

TEST(PlotRender, WithoutADataSetOnlyTheBackgroundAndWithoutASurfaceNothing) {
  CAltimeter alt;
  alt.plotFrame.width = 800;
  alt.plotFrame.height = 600;
  RecordingCanvas canvas;
  alt.RenderPlot(canvas);
  EXPECT_EQ(Describe(canvas), std::vector<std::string>{"clear 00b4b4ff"});

  FillFixtureFlight(alt);
  RecordingCanvas missing(640, false);
  TraceCapture trace;
  alt.RenderPlot(missing);
  alt.RenderLivePlot(missing);
  EXPECT_TRUE(missing.calls.empty());
  EXPECT_TRUE(trace.Lines().empty());
}

TEST(PlotMapping, TruncatesTowardZeroAndTakesASpanOfZeroAsOne) {
  struct Case {
    PlotFrame frame;
    double t, v;
    int x, y;
  };
  const std::vector<Case> cases = {
      {{0, 0, 10, 200, 300, 300}, 1.0, 10.7, 70, 239},
      {{0, 0, 10, 200, 300, 300}, -2.895, 250.5, -7, 0},  // -7.9 and -0.5 go toward zero
      {{0, 0, 10, 200, 300, 300}, 0.0, 260.5, 50, -10},
      {{5, -20, 10, 200, 300, 300}, 5.0, -20, 50, 250},   // origin and minimum at the margins
      {{0, 0, 0, 0, 300, 300}, 0.5, 2.0, 150, -150},      // zero spans: as if 1
  };
  for (const Case& c : cases) {
    CAltimeter alt;
    alt.plotFrame = c.frame;
    EXPECT_EQ(alt.MapX(c.t), c.x) << c.t;
    EXPECT_EQ(alt.MapY(c.v), c.y) << c.v;
  }
}

TEST(PlotSelect, FitsTheFrameToTheSmoothedAltitudeAndVelocity) {
  CAltimeter alt;
  alt.packets = {RampPacket(2, 12000, 60), RampPacket(5, 12900, 40), RampPacket(5, 13500, 0)};
  alt.plotFrame = PlotFrame{7, 7, 7, 7, 1280, 800};
  ASSERT_TRUE(alt.SelectPlotSet(0));
  const FlightData& f = alt.flight;
  ASSERT_EQ(f.smoothedAltitude.size(), 45u);
  const PlotFrame& frame = alt.plotFrame;
  EXPECT_EQ(frame.xOrigin, 0);
  EXPECT_EQ(frame.xSpan, 4);
  EXPECT_EQ(frame.width, 1280);
  EXPECT_EQ(frame.height, 800);
  // Both ends of the value range are reached by a truncated sample of one of the two series.
  bool lowSeen = false, highSeen = false;
  for (const std::vector<double>* series : {&f.smoothedAltitude, &f.velocityKmh}) {
    for (double value : *series) {
      int truncated = static_cast<int>(value);
      EXPECT_GE(truncated, frame.yMin);
      EXPECT_LE(truncated, frame.yMin + frame.ySpan);
      lowSeen |= truncated == frame.yMin;
      highSeen |= truncated == frame.yMin + frame.ySpan;
    }
  }
  EXPECT_TRUE(lowSeen);
  EXPECT_TRUE(highSeen);
  EXPECT_GT(frame.ySpan, 100);
}

TEST(PlotSelect, MinusOneChangesNothingAndAMissingSetDrawsOnlyTheBackground) {
  CAltimeter alt;
  FillFixtureFlight(alt);
  alt.packets = {RampPacket(2, 12000, 60)};
  EXPECT_FALSE(alt.SelectPlotSet(-1));
  EXPECT_EQ(alt.flight.selectedSet, 2);
  EXPECT_EQ(alt.flight.altitudeAgl.size(), 5u);
  EXPECT_EQ(alt.plotFrame.ySpan, 120);
  EXPECT_EQ(alt.plotFrame.yMin, -10);

  EXPECT_TRUE(alt.SelectPlotSet(3));
  EXPECT_EQ(alt.plotFrame.xSpan, 0);
  RecordingCanvas canvas(1100);
  alt.RenderPlot(canvas);
  EXPECT_EQ(Describe(canvas), std::vector<std::string>{"clear 00b4b4ff"});
}

TEST(PlotLive, DrawsThePreviewInItsOwnFrame) {
  CAltimeter alt;
  FillFixtureFlight(alt);
  alt.plotFrame.width = 600;
  alt.plotFrame.height = 400;
  for (uint32_t tenths : {5000u, 5020u, 5050u, 5030u}) alt.livePreview.AddSample(SampleWord(tenths));
  ASSERT_EQ(alt.livePreview.bounds, (std::array<int32_t, 4>{0, 0, 5, 5}));
  RecordingCanvas canvas(600);
  alt.RenderLivePlot(canvas);
  EXPECT_EQ(alt.plotFrame.xOrigin, 0);
  EXPECT_EQ(alt.plotFrame.yMin, 0);
  EXPECT_EQ(alt.plotFrame.xSpan, 5);
  EXPECT_EQ(alt.plotFrame.ySpan, 5);
  EXPECT_EQ(alt.plotFrame.width, 600);
  EXPECT_EQ(alt.plotFrame.height, 400);
  // MapX(t) = 100 t + 50, MapY(v) = 350 - 60 v
  const std::vector<std::string> expected = {
      "clear 00808080",
      "line ff0000ff 3 0,350 600,350",
      "line ffff0000 3 50,350 60,230",
      "line ffff0000 3 60,230 70,50",
      "line ffff0000 3 70,50 80,170",
      "text ff0000ff 70,20 Arial 12 (0.2 s  5 m)",
      "text ff0000ff 100,320 Arial 12 Ground",
  };
  EXPECT_EQ(Describe(canvas), expected);
}

TEST(PlotLive, ShowsTheGroundBeforeTheFirstSampleAndOnThePad) {
  CAltimeter alt;
  alt.plotFrame = PlotFrame{0, 0, 100, 100, 600, 400};
  RecordingCanvas empty(600);
  alt.RenderLivePlot(empty);
  // Initial bounds 0, 0, 1, 1: MapY(0) = 350.
  EXPECT_EQ(Describe(empty), (std::vector<std::string>{"clear 00808080", "line ff0000ff 3 0,350 600,350",
                                                       "text ff0000ff 50,320 Arial 12 (0 s  0 m)",
                                                       "text ff0000ff 100,320 Arial 12 Ground"}));

  // Still on the pad: the height of bounds is 0.
  for (int i = 0; i < 3; ++i) alt.livePreview.AddSample(SampleWord(5000));
  ASSERT_EQ(alt.livePreview.bounds[3], 0);
  RecordingCanvas pad(600);
  alt.RenderLivePlot(pad);
  EXPECT_EQ(pad.LinesWith(kPlotRed, 3).size(), 2u);
  EXPECT_EQ(Describe(pad.calls[1]), "line ff0000ff 3 0,350 600,350");
}

TEST(SeriesReduction, KeepsFirstLowestHighestAndLastOfEachColumnInOrder) {
  using P = PlotPoint;
  struct Case {
    const char* name;
    std::vector<P> points;
    std::vector<P> reduced;
  };
  const std::vector<Case> cases = {
      {"one point a column", {{1, 5}, {2, 7}, {3, 1}}, {{1, 5}, {2, 7}, {3, 1}}},
      {"lowest before highest",
       {{5, 10}, {5, 3}, {5, 4}, {5, 20}, {5, 8}, {6, 1}},
       {{5, 10}, {5, 3}, {5, 20}, {5, 8}, {6, 1}}},
      {"highest before lowest", {{5, 10}, {5, 20}, {5, 9}, {5, 3}, {5, 8}}, {{5, 10}, {5, 20}, {5, 3}, {5, 8}}},
      {"first is lowest, last is highest", {{5, 1}, {5, 4}, {5, 3}, {5, 9}}, {{5, 1}, {5, 9}}},
      {"flat column", {{5, 4}, {5, 4}, {5, 4}}, {{5, 4}, {5, 4}}},
      {"a column met again later", {{5, 1}, {6, 2}, {5, 3}}, {{5, 1}, {6, 2}, {5, 3}}},
      {"empty", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<P> reduced;
    ReduceToColumns(c.points, reduced);
    EXPECT_EQ(reduced, c.reduced);
  }
}

TEST(SeriesReduction, ALongFlightDrawsAtMostTwoLinesAColumn) {
  CAltimeter alt;
  alt.plotFrame = PlotFrame{0, 0, 2280, 3000, 1000, 600};
  std::vector<double> series(22800);
  for (size_t i = 0; i < series.size(); ++i) series[i] = 1500 + 1400 * std::sin(i / 3000.0) + (i * 7919 % 13);
  RecordingCanvas canvas(1000);
  alt.DrawSeries(canvas, {kPlotRed, 2}, series);
  EXPECT_LE(canvas.LineCount(), 2u * 900);
  EXPECT_GE(canvas.LineCount(), 900u);
}
