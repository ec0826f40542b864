#include "plot/LivePlotPace.h"

#include <mutex>

#include "device/Altimeter.h"

LivePlotInputs TakeLivePlotInputs(const CAltimeter& altimeter, int clientWidth, int clientHeight,
                                  uint64_t surfaceWrites) {
  LivePlotInputs inputs;
  {
    std::lock_guard<std::recursive_mutex> lock(altimeter.dataLock);
    inputs.altitude = altimeter.livePreview.altitude;
    inputs.bounds = altimeter.livePreview.bounds;
    inputs.timeOfMax = altimeter.livePreview.timeOfMax;
    inputs.maxAltitude = altimeter.livePreview.maxAltitude;
  }
  inputs.frameWidth = altimeter.plotFrame.width;
  inputs.frameHeight = altimeter.plotFrame.height;
  inputs.clientWidth = clientWidth;
  inputs.clientHeight = clientHeight;
  inputs.surfaceWrites = surfaceWrites;
  return inputs;
}
