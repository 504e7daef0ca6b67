#include <gtest/gtest.h>

#include "recorder/frame_timeline.h"

using namespace dorvantel;

namespace {

constexpr int64_t kInterval = 1000000;  // ten frames per second

TEST(FrameTimeline, FramesOnTimeTakeOneSlotEach) {
  FrameTimeline timeline(kInterval, 0);
  for (int64_t n = 0; n < 5; ++n) {
    FrameTimeline::Placement p = timeline.Place(n * kInterval + kInterval / 3);
    EXPECT_EQ(0u, p.previousCopies);
    EXPECT_EQ(1u, p.copies);
  }
  EXPECT_EQ(5u, timeline.slots());
  EXPECT_EQ(0u, timeline.repeated());
  EXPECT_FALSE(timeline.full());
}

TEST(FrameTimeline, SlotsTheSourceMissedRepeatThePreviousFrame) {
  FrameTimeline timeline(kInterval, 0);
  timeline.Place(0);
  FrameTimeline::Placement p = timeline.Place(3 * kInterval + 5);
  EXPECT_EQ(2u, p.previousCopies);
  EXPECT_EQ(1u, p.copies);
  EXPECT_EQ(4u, timeline.slots());
  EXPECT_EQ(2u, timeline.repeated());
}

TEST(FrameTimeline, AFirstFrameAfterTheStartAlsoFillsTheSlotsBeforeIt) {
  FrameTimeline timeline(kInterval, 0);
  FrameTimeline::Placement p = timeline.Place(2 * kInterval);
  EXPECT_EQ(0u, p.previousCopies);
  EXPECT_EQ(3u, p.copies);
  EXPECT_EQ(2u, timeline.repeated());
}

TEST(FrameTimeline, AFrameForATakenSlotIsLeftOut) {
  FrameTimeline timeline(kInterval, 0);
  timeline.Place(kInterval / 2);
  timeline.Place(kInterval + 1);
  FrameTimeline::Placement p = timeline.Place(kInterval + kInterval / 2);
  EXPECT_EQ(0u, p.previousCopies + p.copies);
  p = timeline.Place(-5);  // before the start
  EXPECT_EQ(0u, p.previousCopies + p.copies);
  EXPECT_EQ(2u, timeline.skipped());
  EXPECT_EQ(2u, timeline.slots());
}

TEST(FrameTimeline, TheLimitCutsRepeatsAndEndsTheRecording) {
  FrameTimeline timeline(kInterval, 4);
  timeline.Place(0);
  timeline.Place(kInterval);
  FrameTimeline::Placement p = timeline.Place(9 * kInterval);
  EXPECT_EQ(2u, p.previousCopies);
  EXPECT_EQ(0u, p.copies);
  EXPECT_TRUE(timeline.full());
  EXPECT_EQ(4u, timeline.slots());
  p = timeline.Place(10 * kInterval);
  EXPECT_EQ(0u, p.previousCopies + p.copies);
  EXPECT_EQ(4u, timeline.slots());
}

}  // namespace
