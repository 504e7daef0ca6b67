#pragma once
// Work that waits, done off the window's thread: saving or removing a device runs the other
// bitness's register tool, which takes seconds (minutes where 32-bit code is emulated). Start
// runs the work on a thread of its own, in a COM apartment of its own, and posts message to
// the window when it has ended; on that message the window calls Finish, which runs the
// completion on the window's thread. One piece of work at a time: while busy() the window
// disables whatever would start more.
//
// Owns the worker's thread handle. The work and its completion share only what they capture;
// the window never waits on the work, except the destructor, when the window is gone and a
// work still runs.

#include <windows.h>

#include <functional>

#include "base/handles.h"

namespace dorvantel {

// The message the settings program's windows take a finished work on (their own, private).
constexpr UINT kTaskDoneMessage = WM_APP + 2;

class BackgroundTask {
 public:
  BackgroundTask() = default;
  ~BackgroundTask();
  BackgroundTask(const BackgroundTask&) = delete;
  BackgroundTask& operator=(const BackgroundTask&) = delete;

  bool busy() const noexcept { return thread_.valid(); }

  // Runs work on the worker, then posts message (no parameters) to window. E_PENDING while a
  // work is running; the thread's error when none can start (nothing runs then).
  HRESULT Start(HWND window, UINT message, std::function<void()> work, std::function<void()> done);
  // On the posted message: the worker has ended; runs the completion here. Nothing when idle.
  void Finish();

 private:
  static DWORD WINAPI Run(void* self);

  ThreadHandle thread_;
  HWND window_ = nullptr;
  UINT message_ = 0;
  std::function<void()> work_;
  std::function<void()> done_;
};

}  // namespace dorvantel
