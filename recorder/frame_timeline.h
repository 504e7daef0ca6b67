#pragma once
// Places the frames that a source delivers on a recording's constant-rate timeline. Slot k
// of the timeline spans [k, k + 1) frame intervals from the start of the recording. A
// frame takes the slot in which its presentation time falls; slots that no frame reached
// repeat the frame before them (the first frame, when nothing came before it); a frame
// whose slot is already taken is left out. So the recording plays at real speed however
// fast the source delivers. Not thread safe.

#include <cstdint>

namespace dorvantel {

class FrameTimeline {
 public:
  // interval: 100-ns units, positive. slotLimit: the recording's length in frames, or 0
  // for no limit.
  FrameTimeline(int64_t interval, uint64_t slotLimit) noexcept;

  struct Placement {
    uint64_t previousCopies;  // slots to fill with the previous frame, first
    uint64_t copies;          // then slots to fill with this frame
  };
  Placement Place(int64_t presentation) noexcept;

  bool full() const noexcept { return limit_ != 0 && next_ >= limit_; }
  uint64_t slots() const noexcept { return next_; }
  // Slots filled with a frame that was already written: the source fell behind.
  uint64_t repeated() const noexcept { return repeated_; }
  // Frames left out because their slot was taken.
  uint64_t skipped() const noexcept { return skipped_; }

 private:
  const int64_t interval_;
  const uint64_t limit_;
  uint64_t next_ = 0;
  uint64_t repeated_ = 0;
  uint64_t skipped_ = 0;
  bool hasPrevious_ = false;
};

}  // namespace dorvantel
