// The download preview is asked for seven times a packet, but its samples
// change once a packet: a preview whose inputs are as at its last present is
// on the screen already and need not be drawn again.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class CAltimeter;

// Everything the preview's picture depends on.
struct LivePlotInputs {
  std::vector<double> altitude;
  std::array<int32_t, 4> bounds{};
  float timeOfMax = 0.0f;
  float maxAltitude = 0.0f;
  int32_t frameWidth = 0;  // the mapping's size (PlotFrame width and height)
  int32_t frameHeight = 0;
  int clientWidth = 0;  // where it is presented
  int clientHeight = 0;
  uint64_t surfaceWrites = 0;  // what the back buffer holds (its write count)
  bool operator==(const LivePlotInputs&) const = default;
};

// The preview record and the frame's size as they are now, under the data lock.
LivePlotInputs TakeLivePlotInputs(const CAltimeter& altimeter, int clientWidth, int clientHeight,
                                  uint64_t surfaceWrites);

class LivePlotPace {
 public:
  // True unless the last preview shown had exactly these inputs.
  bool NeedsDrawing(const LivePlotInputs& now) const { return !shown_ || !(*shown_ == now); }
  // The preview with these inputs is on the screen; surfaceWrites counts the
  // drawing of it.
  void Shown(LivePlotInputs inputs) { shown_ = std::move(inputs); }
  // What the screen shows is not known any more.
  void Forget() { shown_.reset(); }

 private:
  std::optional<LivePlotInputs> shown_;
};
