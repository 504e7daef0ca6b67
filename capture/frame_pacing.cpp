#include "capture/frame_pacing.h"

#include <mmsystem.h>

namespace {

constexpr LONGLONG kUnitsPerSecond = 10000000;

LONGLONG CounterFrequency() noexcept {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return frequency.QuadPart > 0 ? frequency.QuadPart : 1;
}

}  // namespace

REFERENCE_TIME PreciseTime() noexcept {
  static const LONGLONG frequency = CounterFrequency();
  LARGE_INTEGER counter;
  ::QueryPerformanceCounter(&counter);
  // Whole seconds and the remainder apart, so that the product cannot overflow.
  const LONGLONG seconds = counter.QuadPart / frequency;
  const LONGLONG rest = counter.QuadPart % frequency;
  return seconds * kUnitsPerSecond + rest * kUnitsPerSecond / frequency;
}

REFERENCE_TIME FrameSchedule::Wait(REFERENCE_TIME now, REFERENCE_TIME interval) const noexcept {
  if (!started_) return 0;
  const REFERENCE_TIME next = lastSlot_ + interval;
  return now < next ? next - now : 0;
}

void FrameSchedule::Take(REFERENCE_TIME now, REFERENCE_TIME interval) noexcept {
  const REFERENCE_TIME next = lastSlot_ + interval;
  if (!started_ || now - next > interval) {
    lastSlot_ = now;  // the first frame, or one more than an interval late: start anew
  } else {
    lastSlot_ = next;
  }
  started_ = true;
}

void TimerResolution::Begin() noexcept {
  if (!held_) held_ = ::timeBeginPeriod(1) == TIMERR_NOERROR;
}

void TimerResolution::End() noexcept {
  if (held_) ::timeEndPeriod(1);
  held_ = false;
}
