#pragma once
// The demo window: eight colour bars (white, yellow, cyan, green, magenta, red, blue,
// black) over the upper two thirds, and a white square that crosses a grey band below them
// once every two seconds. It lives on a thread of its own, which paints it and answers
// PrintWindow; the object owns that thread and closes the window when destroyed.

#include <windows.h>

#include <string>

#include "base/handles.h"

namespace dorvantel {

class DemoWindow {
 public:
  DemoWindow() noexcept = default;
  ~DemoWindow();
  DemoWindow(const DemoWindow&) = delete;
  DemoWindow& operator=(const DemoWindow&) = delete;

  // Shows the window at bounds (screen coordinates; an empty rectangle centres a 640x360
  // window) and returns once it has been painted.
  HRESULT Show(const RECT& bounds, const std::wstring& title);
  HWND window() const noexcept { return window_; }
  // Returns when the window is closed (Escape, or WM_CLOSE from elsewhere).
  void WaitUntilClosed();

 private:
  static DWORD WINAPI ThreadMain(void* self);
  void Run();

  RECT bounds_{};
  std::wstring title_;
  HWND window_ = nullptr;
  HRESULT result_ = E_FAIL;
  EventHandle shown_;
  ThreadHandle thread_;
};

}  // namespace dorvantel
