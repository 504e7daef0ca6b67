#include <gtest/gtest.h>

#include "capture/frame_pacing.h"

namespace {

constexpr REFERENCE_TIME kInterval = 1000000;  // 10 frames a second

TEST(FrameScheduleTest, SlotsStayOneIntervalApartAndALateWorkerStartsAnewWithoutABurst) {
  FrameSchedule schedule;
  const REFERENCE_TIME start = 50000000;
  EXPECT_EQ(0, schedule.Wait(start, kInterval)) << "the first frame of a run is due at once";
  schedule.Take(start, kInterval);
  EXPECT_EQ(kInterval, schedule.Wait(start, kInterval));
  EXPECT_EQ(kInterval - 300000, schedule.Wait(start + 300000, kInterval));

  // A frame made a little after its slot does not move the later slots.
  schedule.Take(start + kInterval + 20000, kInterval);
  EXPECT_EQ(kInterval - 20000, schedule.Wait(start + kInterval + 20000, kInterval));
  // Nearly a whole interval late: the next slot is still the fixed one, and due.
  schedule.Take(start + 3 * kInterval - 1, kInterval);
  EXPECT_EQ(1, schedule.Wait(start + 3 * kInterval - 1, kInterval));

  // More than an interval late (a slow grab): the missed slots are dropped, not made back to
  // back; the schedule goes on from this frame.
  const REFERENCE_TIME late = start + 7 * kInterval + 400000;
  EXPECT_EQ(0, schedule.Wait(late, kInterval));
  schedule.Take(late, kInterval);
  EXPECT_EQ(kInterval, schedule.Wait(late, kInterval));

  // A new rate applies from the last frame's slot; Restart makes the next frame due at once.
  EXPECT_EQ(kInterval / 2, schedule.Wait(late, kInterval / 2));
  schedule.Restart();
  EXPECT_EQ(0, schedule.Wait(late, kInterval));
}

}  // namespace
