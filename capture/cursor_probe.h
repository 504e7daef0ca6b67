#pragma once
// CursorProbe: asks for the cursor's state (GetCursorInfo) on a thread of its own, so that the
// thread that grabs never asks the display driver for the pointer itself.
//
// Why: under Wine's X11 driver the first question about the pointer gives the asking thread a
// display connection of its own, and when that happens on a thread early in its grabbing, every
// later screen copy on that thread costs twice its CPU at 3840x2160 (the copy's 33 MB buffer is
// then mapped and cleared anew for each frame). A thread that only asks keeps that cost away
// from the frames; a question costs two event signals.
//
// Owns its thread and two events; the thread is started by the first Query and ended by Stop
// or the destructor. Not thread-safe: one thread (the grabbing one) queries and stops it.

#include <windows.h>

#include <atomic>

#include "base/handles.h"

class CursorProbe {
 public:
  CursorProbe() noexcept = default;
  ~CursorProbe() { Stop(); }
  CursorProbe(const CursorProbe&) = delete;
  CursorProbe& operator=(const CursorProbe&) = delete;

  // The cursor's state now, as GetCursorInfo gives it; false when it gives nothing. Asks on
  // the calling thread when no thread of its own could be started.
  bool Query(CURSORINFO* cursor) noexcept;
  // Ends the thread; a later Query starts a new one.
  void Stop() noexcept;

 private:
  static DWORD WINAPI ThreadMain(void* self);
  bool Start() noexcept;

  ThreadHandle thread_;
  EventHandle asked_;     // auto-reset: a question, or the end when stopping_ is set
  EventHandle answered_;  // auto-reset
  std::atomic<bool> stopping_{false};
  // Written by the thread before it signals answered_, read by the asker after.
  CURSORINFO answer_ = {};
  BOOL answerOk_ = FALSE;
};
