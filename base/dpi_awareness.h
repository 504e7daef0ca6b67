#pragma once
// Display scaling. A program that declares no DPI awareness is shown a smaller, virtual screen
// at 125 % or more: metrics, monitor and window rectangles and the cursor's position are divided
// by the scale, and a grab of that screen reads only part of the real one. Code that measures
// the screen for a capture runs in a per-monitor-aware (v2) context, so it sees physical pixels
// whatever its host declared. Every call here is looked up at run time: on a platform without
// per-thread DPI awareness (before Windows 10 1607) nothing changes.

#include <windows.h>

// DpiContext: the calling thread's DPI awareness context switched to another for the object's
// life, the previous one restored by its destructor on the same thread (so it lives on the
// stack, or for a thread's whole life in its entry function). A null context changes nothing.
class DpiContext {
 public:
  explicit DpiContext(HANDLE context) noexcept;
  ~DpiContext();
  DpiContext(const DpiContext&) = delete;
  DpiContext& operator=(const DpiContext&) = delete;

  // True when the thread's context was switched (and is restored at the end).
  bool switched() const noexcept { return previous_ != nullptr; }

 private:
  HANDLE previous_ = nullptr;  // the thread's context before
};

// The thread in a per-monitor-aware (v2) context: screen measurements in physical pixels.
class PhysicalPixels : public DpiContext {
 public:
  PhysicalPixels() noexcept;
};

// The thread's DPI awareness now: 0 unaware, 1 system aware, 2 per-monitor aware; -1 where the
// platform has no per-thread awareness.
int ThreadDpiAwareness() noexcept;

// The window's rectangle as the window itself measures it, in its own DPI context: the size it
// paints at, which PrintWindow gives. A DPI-unaware window on a scaled screen paints smaller than
// the screen shows it (the system stretches it). Where the platform has no per-window contexts,
// or the window is gone, GetWindowRect's answer in the calling thread's context.
RECT WindowRectAsPainted(HWND window) noexcept;

// The window's rectangle as the screen shows it, in physical pixels, whatever the calling
// thread's context: a window drawn for another DPI than its monitor's (a DPI-unaware one on a
// scaled screen) has its painted rectangle mapped to the screen, its corner where the platform
// puts it and its size scaled by the two DPIs. Some platforms (Wine) do not map the rectangles
// of such windows for a per-monitor-aware thread, so this never relies on that.
RECT WindowRectOnScreen(HWND window) noexcept;
