#include <gtest/gtest.h>

#include <functional>

#include "device/Altimeter.h"
#include "plot/LivePlotPace.h"

namespace {

TEST(LivePlotPace, OnlyAChangedInputDrawsThePreviewAgain) {
  CAltimeter altimeter;
  altimeter.plotFrame.width = 1280;
  altimeter.plotFrame.height = 1024;
  for (uint32_t tenths : {13200u, 13300u, 14500u}) altimeter.livePreview.AddSample(tenths);
  auto take = [&] { return TakeLivePlotInputs(altimeter, 1280, 1024, 7); };

  LivePlotPace pace;
  EXPECT_TRUE(pace.NeedsDrawing(take()));  // nothing shown yet
  pace.Shown(take());
  EXPECT_FALSE(pace.NeedsDrawing(take()));

  // Each input on its own makes the picture differ.
  const std::pair<const char*, std::function<LivePlotInputs()>> changes[] = {
      {"a new sample",
       [&] {
         LivePreview kept = altimeter.livePreview;
         altimeter.livePreview.AddSample(13100);  // below the maximum: only the series grows
         LivePlotInputs i = take();
         altimeter.livePreview = kept;
         return i;
       }},
      {"a reset preview",
       [&] {
         LivePreview kept = altimeter.livePreview;
         altimeter.livePreview.Reset();
         LivePlotInputs i = take();
         altimeter.livePreview = kept;
         return i;
       }},
      {"an earlier sample changed",
       [&] {
         LivePlotInputs i = take();
         i.altitude[0] += 1;
         return i;
       }},
      {"the bounds",
       [&] {
         LivePlotInputs i = take();
         i.bounds[2] += 5;
         return i;
       }},
      {"the maximum",
       [&] {
         LivePlotInputs i = take();
         i.maxAltitude += 1;
         return i;
       }},
      {"the frame's size",
       [&] {
         LivePlotInputs i = take();
         i.frameHeight -= 1;
         return i;
       }},
      {"the client size", [&] { return TakeLivePlotInputs(altimeter, 1024, 768, 7); }},
      {"another drawing in the back buffer", [&] { return TakeLivePlotInputs(altimeter, 1280, 1024, 8); }},
  };
  for (const auto& [what, changed] : changes) EXPECT_TRUE(pace.NeedsDrawing(changed())) << what;
  EXPECT_FALSE(pace.NeedsDrawing(take()));

  pace.Forget();
  EXPECT_TRUE(pace.NeedsDrawing(take()));
}

}  // namespace
