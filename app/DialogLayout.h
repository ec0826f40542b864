// The arithmetic of a dialog's resize layout: where an anchored control goes
// when its parent's client area changes size, and the dialog's track limits.
// The windows themselves are moved by DialogLayout (app/DialogWindow.h).
#pragma once

#include <cstdint>

struct AnchorFlags {
  bool top = false;
  bool left = false;
  bool bottom = false;
  bool right = false;
};

// One control's rectangle in its parent's client coordinates, its anchors and
// the parent's client size as last seen.
struct AnchorGeometry {
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;
  AnchorFlags anchors;
  int32_t parentWidth = 0;
  int32_t parentHeight = 0;

  struct Move {
    bool move = true;  // false: the position stays (anchored top and left)
    bool size = true;  // false: the size stays (anchored neither bottom nor right)
  };

  // Follows the parent to its new client size and answers what changes.
  Move Step(int32_t newParentWidth, int32_t newParentHeight);
};

struct TrackSize {
  int32_t width = 0;
  int32_t height = 0;
};

// Writes each non-zero limit over the system's proposal (0 = no limit).
void ApplyTrackLimits(const TrackSize& minimum, const TrackSize& maximum, TrackSize& minTrack, TrackSize& maxTrack);
