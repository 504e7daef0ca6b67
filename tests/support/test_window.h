#pragma once
// TestWindow: a topmost popup window of the test process, painted with solid colour blocks
// at a known place on the screen, so that tests can grab content they drew themselves.
// It paints for WM_PAINT and WM_PRINTCLIENT alike, sets its own cursor (when one is given)
// while the pointer is over it, and is destroyed with the object.

#include <windows.h>

#include <vector>

class TestWindow {
 public:
  // A block of colour in client coordinates; later blocks paint over earlier ones.
  struct Block {
    RECT rect;
    COLORREF color;
  };

  // Shown without activation at screenRect (client = window: no frame).
  TestWindow(const RECT& screenRect, COLORREF background, std::vector<Block> blocks = {}, DWORD extendedStyle = 0);
  // Four blocks, one per quadrant: red top left, green top right, blue bottom left,
  // yellow bottom right.
  static TestWindow Quadrants(const RECT& screenRect, DWORD extendedStyle = 0);
  ~TestWindow();
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  HWND handle() const noexcept { return window_; }
  const RECT& screenRect() const noexcept { return rect_; }
  LONG width() const noexcept { return rect_.right - rect_.left; }
  LONG height() const noexcept { return rect_.bottom - rect_.top; }

  // The colour painted at a client point.
  COLORREF ColorAt(LONG x, LONG y) const;
  // The cursor the window sets while the pointer is over it.
  void UseCursor(HCURSOR cursor) noexcept { cursor_ = cursor; }

  // Pumps messages until the screen shows the window's blocks (bounded wait); false when
  // it did not within the time.
  bool WaitUntilShown();
  // Brings the window to the foreground and puts the pointer on the client point (x, y);
  // true once the platform reports the window's cursor as the current one.
  bool PointAt(LONG x, LONG y);

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Paint(HDC dc) const;

  RECT rect_;
  COLORREF background_;
  std::vector<Block> blocks_;
  HCURSOR cursor_ = nullptr;
  HWND window_ = nullptr;
};

// WindowThread: a TestWindow::Quadrants that a thread of its own makes, pumps and destroys, so
// that the test's thread may block (stopping a graph, say) while the window answers the
// messages that PrintWindow sends it from a worker.
class WindowThread {
 public:
  explicit WindowThread(const RECT& screenRect);
  ~WindowThread();
  WindowThread(const WindowThread&) = delete;
  WindowThread& operator=(const WindowThread&) = delete;

  // True once the window is on the screen with its blocks painted.
  bool shown() const noexcept { return shown_; }
  // The window, valid while this object lives and shown() is true.
  const TestWindow& window() const noexcept { return *window_; }

 private:
  static DWORD WINAPI Main(void* self);

  RECT rect_;
  HANDLE ready_;
  HANDLE stop_;
  HANDLE thread_ = nullptr;
  TestWindow* window_ = nullptr;
  bool shown_ = false;
};

// TestCursor: a 32 x 32 cursor that is transparent except for one opaque black block, so
// that a test can find exactly where it was drawn. Destroyed with the object.
class TestCursor {
 public:
  TestCursor(POINT hotspot, const RECT& block);
  ~TestCursor();
  TestCursor(const TestCursor&) = delete;
  TestCursor& operator=(const TestCursor&) = delete;

  HCURSOR handle() const noexcept { return cursor_; }
  POINT hotspot() const noexcept { return hotspot_; }
  const RECT& block() const noexcept { return block_; }

 private:
  POINT hotspot_;
  RECT block_;
  HCURSOR cursor_;
};

// Dispatches every message waiting for this thread.
void PumpMessages();

// Pumps messages for the given milliseconds.
void PumpMessagesFor(DWORD milliseconds);
