#include "app/DialogLayout.h"

AnchorGeometry::Move AnchorGeometry::Step(int32_t newParentWidth, int32_t newParentHeight) {
  int32_t dW = newParentWidth - parentWidth;
  int32_t dH = newParentHeight - parentHeight;
  parentWidth = newParentWidth;
  parentHeight = newParentHeight;
  int32_t right = left + width;
  int32_t bottom = top + height;
  if (!anchors.top) top += dH;
  if (!anchors.left) left += dW;
  if (anchors.bottom) bottom += dH;
  if (anchors.right) right += dW;
  height = bottom - top;
  width = right - left;
  Move result;
  result.move = !(anchors.top && anchors.left);
  result.size = anchors.bottom || anchors.right;
  return result;
}

void ApplyTrackLimits(const TrackSize& minimum, const TrackSize& maximum, TrackSize& minTrack, TrackSize& maxTrack) {
  if (minimum.width) minTrack.width = minimum.width;
  if (minimum.height) minTrack.height = minimum.height;
  if (maximum.width) maxTrack.width = maximum.width;
  if (maximum.height) maxTrack.height = maximum.height;
}
