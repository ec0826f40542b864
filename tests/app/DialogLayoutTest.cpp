#include <gtest/gtest.h>

#include "app/DialogLayout.h"

namespace {

struct AnchorCase {
  const char* name;
  AnchorFlags anchors;
  int left, top, width, height;
  bool move, size;
};

// A control at (10, 20) sized 30 x 40 in a 200 x 100 parent that grows to 250 x 130.
TEST(AnchorGeometry, EachAnchoringFollowsTheParent) {
  const AnchorCase cases[] = {
      {"top left stays", {true, true, false, false}, 10, 20, 30, 40, false, false},
      {"all four stretch", {true, true, true, true}, 10, 20, 80, 70, false, true},
      {"bottom right moves", {false, false, true, true}, 60, 50, 30, 40, true, true},
      {"top right moves sideways", {true, false, false, true}, 60, 20, 30, 40, true, true},
      {"left bottom moves down", {false, true, true, false}, 10, 50, 30, 40, true, true},
      {"top left right widens", {true, true, false, true}, 10, 20, 80, 40, false, true},
  };
  for (const AnchorCase& c : cases) {
    SCOPED_TRACE(c.name);
    AnchorGeometry g{10, 20, 30, 40, c.anchors, 200, 100};
    AnchorGeometry::Move move = g.Step(250, 130);
    EXPECT_EQ(g.left, c.left);
    EXPECT_EQ(g.top, c.top);
    EXPECT_EQ(g.width, c.width);
    EXPECT_EQ(g.height, c.height);
    EXPECT_EQ(move.move, c.move);
    EXPECT_EQ(move.size, c.size);
    EXPECT_EQ(g.parentWidth, 250);
    EXPECT_EQ(g.parentHeight, 130);
  }
}

TEST(AnchorGeometry, StepsAccumulateAndShrinkBack) {
  AnchorGeometry g{10, 20, 30, 40, {false, false, true, true}, 200, 100};
  g.Step(300, 200);
  g.Step(200, 100);
  EXPECT_EQ(g.left, 10);
  EXPECT_EQ(g.top, 20);
  EXPECT_EQ(g.width, 30);
  EXPECT_EQ(g.height, 40);
}

TEST(TrackLimits, OnlyNonZeroLimitsReplaceTheProposal) {
  TrackSize minTrack{100, 90};
  TrackSize maxTrack{1600, 1200};
  ApplyTrackLimits({420, 0}, {0, 0}, minTrack, maxTrack);
  EXPECT_EQ(minTrack.width, 420);
  EXPECT_EQ(minTrack.height, 90);
  EXPECT_EQ(maxTrack.width, 1600);
  EXPECT_EQ(maxTrack.height, 1200);
}

}  // namespace
