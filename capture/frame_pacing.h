#pragma once
// What a paced worker needs to make at most one frame per interval: a precise clock, the
// schedule of its frame slots, and a fine system timer resolution while it waits.

#include <windows.h>
#include <strmif.h>

// The performance counter in 100-ns units; its origin is arbitrary but fixed.
REFERENCE_TIME PreciseTime() noexcept;

// The slots of one run: the first frame is due at once and fixes slot 0, later slots follow
// one interval apart. A worker more than one whole interval late restarts the schedule at
// the frame it makes then, so missed slots are dropped instead of made back to back.
// Plain data, used by one thread.
class FrameSchedule {
 public:
  // The next frame is due at once and starts a new schedule.
  void Restart() noexcept { started_ = false; }
  // How long from now until the next slot (0 when it is due). The interval is read at every
  // call, so a new frame rate applies from the slot after the last frame.
  REFERENCE_TIME Wait(REFERENCE_TIME now, REFERENCE_TIME interval) const noexcept;
  // The frame due at now is made: the slot it fills becomes the last one.
  void Take(REFERENCE_TIME now, REFERENCE_TIME interval) noexcept;

 private:
  bool started_ = false;
  REFERENCE_TIME lastSlot_ = 0;
};

// Holds the system timer at 1 ms from Begin until End (or destruction), so that short waits
// end on time; Begin while held and End while not held do nothing.
class TimerResolution {
 public:
  TimerResolution() noexcept = default;
  ~TimerResolution() { End(); }
  TimerResolution(const TimerResolution&) = delete;
  TimerResolution& operator=(const TimerResolution&) = delete;

  void Begin() noexcept;
  void End() noexcept;
  bool Held() const noexcept { return held_; }

 private:
  bool held_ = false;
};
