#include "recorder/frame_timeline.h"

#include <algorithm>

namespace dorvantel {

FrameTimeline::FrameTimeline(int64_t interval, uint64_t slotLimit) noexcept
    : interval_(interval > 0 ? interval : 1), limit_(slotLimit) {}

FrameTimeline::Placement FrameTimeline::Place(int64_t presentation) noexcept {
  if (full()) return {0, 0};
  const uint64_t slot = presentation <= 0 ? 0 : static_cast<uint64_t>(presentation / interval_);
  if (slot < next_) {
    ++skipped_;
    return {0, 0};
  }
  const uint64_t missed = slot - next_;
  Placement placement = hasPrevious_ ? Placement{missed, 1} : Placement{0, missed + 1};
  if (limit_ != 0) {
    const uint64_t room = limit_ - next_;
    placement.previousCopies = std::min(placement.previousCopies, room);
    placement.copies = std::min(placement.copies, room - placement.previousCopies);
  }
  next_ += placement.previousCopies + placement.copies;
  repeated_ += placement.previousCopies + (placement.copies > 1 ? placement.copies - 1 : 0);
  if (placement.copies > 0) hasPrevious_ = true;
  return placement;
}

}  // namespace dorvantel
