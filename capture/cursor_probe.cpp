#include "capture/cursor_probe.h"

#include "base/dpi_awareness.h"

bool CursorProbe::Start() noexcept {
  if (thread_) return true;
  asked_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  answered_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!asked_ || !answered_) return false;
  stopping_.store(false);
  thread_.reset(::CreateThread(nullptr, 0, &CursorProbe::ThreadMain, this, 0, nullptr));
  return static_cast<bool>(thread_);
}

bool CursorProbe::Query(CURSORINFO* cursor) noexcept {
  if (!Start()) {
    cursor->cbSize = sizeof(*cursor);
    return ::GetCursorInfo(cursor) != FALSE;
  }
  ::SetEvent(asked_.get());
  const HANDLE waited[] = {answered_.get(), thread_.get()};
  if (::WaitForMultipleObjects(2, waited, FALSE, INFINITE) != WAIT_OBJECT_0 || !answerOk_) return false;
  *cursor = answer_;
  return true;
}

void CursorProbe::Stop() noexcept {
  if (thread_) {
    stopping_.store(true);
    ::SetEvent(asked_.get());
    ::WaitForSingleObject(thread_.get(), INFINITE);
    thread_.reset();
  }
  asked_.reset();
  answered_.reset();
}

DWORD WINAPI CursorProbe::ThreadMain(void* self) {
  auto* probe = static_cast<CursorProbe*>(self);
  PhysicalPixels physical;  // the cursor's place on the real screen, for the thread's life
  for (;;) {
    ::WaitForSingleObject(probe->asked_.get(), INFINITE);
    if (probe->stopping_.load()) return 0;
    probe->answer_ = {};
    probe->answer_.cbSize = sizeof(probe->answer_);
    probe->answerOk_ = ::GetCursorInfo(&probe->answer_);
    ::SetEvent(probe->answered_.get());
  }
}
