#include "plot/LivePlotPace.h"

#include <utility>

#include "device/Altimeter.h"

LivePlotInputs TakeLivePlotInputs(const CAltimeter& altimeter, int clientWidth, int clientHeight,
                                  uint64_t surfaceWrites) {
  LivePlotInputs inputs;
  LivePreview preview = altimeter.LivePreviewNow();
  inputs.altitude = std::move(preview.altitude);
  inputs.bounds = preview.bounds;
  inputs.timeOfMax = preview.timeOfMax;
  inputs.maxAltitude = preview.maxAltitude;
  inputs.frameWidth = altimeter.plotFrame.width;
  inputs.frameHeight = altimeter.plotFrame.height;
  inputs.clientWidth = clientWidth;
  inputs.clientHeight = clientHeight;
  inputs.surfaceWrites = surfaceWrites;
  return inputs;
}
