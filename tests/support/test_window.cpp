#include "tests/support/test_window.h"

#include <cstdio>
#include <utility>

#include "base/dpi_awareness.h"

namespace {

const wchar_t kClassName[] = L"DorvantelTestWindow";

void FillSolid(HDC dc, const RECT& rect, COLORREF color) {
  HBRUSH brush = ::CreateSolidBrush(color);
  ::FillRect(dc, &rect, brush);
  ::DeleteObject(brush);
}

}  // namespace

TestWindow::TestWindow(const RECT& screenRect, COLORREF background, std::vector<Block> blocks, DWORD extendedStyle)
    : rect_(screenRect), background_(background), blocks_(std::move(blocks)) {
  static const ATOM registered = [] {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &TestWindow::WindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.lpszClassName = kClassName;
    return ::RegisterClassExW(&windowClass);
  }();
  (void)registered;
  window_ = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE | extendedStyle, kClassName,
                              L"Dorvantel test", WS_POPUP, rect_.left, rect_.top, width(), height(), nullptr,
                              nullptr, ::GetModuleHandleW(nullptr), this);
  ::ShowWindow(window_, SW_SHOWNOACTIVATE);
  ::UpdateWindow(window_);
}

TestWindow TestWindow::Quadrants(const RECT& screenRect, DWORD extendedStyle) {
  const LONG w = screenRect.right - screenRect.left;
  const LONG h = screenRect.bottom - screenRect.top;
  return TestWindow(screenRect, RGB(0, 0, 0),
                    {{{0, 0, w / 2, h / 2}, RGB(255, 0, 0)},
                     {{w / 2, 0, w, h / 2}, RGB(0, 255, 0)},
                     {{0, h / 2, w / 2, h}, RGB(0, 0, 255)},
                     {{w / 2, h / 2, w, h}, RGB(255, 255, 0)}},
                    extendedStyle);
}

TestWindow::~TestWindow() {
  if (!window_) return;
  ::DestroyWindow(window_);
  PumpMessages();
}

COLORREF TestWindow::ColorAt(LONG x, LONG y) const {
  COLORREF color = background_;
  const POINT point = {x, y};
  for (const Block& block : blocks_) {
    if (::PtInRect(&block.rect, point)) color = block.color;
  }
  return color;
}

bool TestWindow::WaitUntilShown() {
  // The screen is read in physical pixels, where the window is shown: a window of a
  // DPI-unaware program on a scaled screen is stretched there, so its points are mapped, and
  // its corners are taken a little inside, clear of the stretch's blended edges.
  const RECT shownRect = WindowRectOnScreen(window_);
  const LONG shownWidth = shownRect.right - shownRect.left, shownHeight = shownRect.bottom - shownRect.top;
  const bool stretched = shownWidth != width() || shownHeight != height();
  const LONG inset = stretched ? 2 : 0;
  // Samples: the centre and the corners of every block and of the window. Centres alone
  // also match a window a few pixels from its place, which a grab then shows at its edges.
  std::vector<POINT> samples;
  const RECT inside = {0, 0, width(), height()};
  auto sample = [&samples, &inside, inset](const RECT& r, bool centre) {
    const POINT middle = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    if (centre && ::PtInRect(&inside, middle)) samples.push_back(middle);
    for (const POINT p : {POINT{r.left + inset, r.top + inset}, POINT{r.right - 1 - inset, r.top + inset},
                          POINT{r.left + inset, r.bottom - 1 - inset}, POINT{r.right - 1 - inset, r.bottom - 1 - inset}}) {
      if (::PtInRect(&inside, p)) samples.push_back(p);
    }
  };
  // The window's centre may be where blocks meet, which a stretch blends.
  sample(inside, !stretched);
  for (const Block& block : blocks_) sample(block.rect, true);
  bool shown = false;
  const DWORD start = ::GetTickCount();
  while (!shown && ::GetTickCount() - start < 10000) {
    PumpMessages();  // in the thread's own context, which the window was made in
    PhysicalPixels physical;
    HDC screen = ::GetDC(nullptr);
    shown = true;
    for (const POINT& p : samples) {
      const LONG x = shownRect.left + ::MulDiv(p.x, shownWidth, width());
      const LONG y = shownRect.top + ::MulDiv(p.y, shownHeight, height());
      const COLORREF seen = ::GetPixel(screen, x, y);
      if (seen == ColorAt(p.x, p.y)) continue;
      if (shown && ::GetTickCount() - start >= 10000 - 20) {
        std::fprintf(stderr, "window at %ld,%ld %ldx%ld: screen point %ld,%ld shows %06lx, not %06lx\n", shownRect.left,
                     shownRect.top, shownWidth, shownHeight, x, y, seen, ColorAt(p.x, p.y));
      }
      shown = false;
    }
    ::ReleaseDC(nullptr, screen);
    if (!shown) ::Sleep(10);
  }
  return shown;
}

bool TestWindow::PointAt(LONG x, LONG y) {
  ::SetForegroundWindow(window_);
  ::SetCursorPos(rect_.left + x, rect_.top + y);
  const DWORD start = ::GetTickCount();
  CURSORINFO info = {};
  do {
    PumpMessages();
    info.cbSize = sizeof(info);
    if (::GetCursorInfo(&info) && info.hCursor == cursor_ && info.ptScreenPos.x == rect_.left + x &&
        info.ptScreenPos.y == rect_.top + y) {
      return true;
    }
    ::Sleep(10);
  } while (::GetTickCount() - start < 5000);
  return false;
}

void TestWindow::Paint(HDC dc) const {
  FillSolid(dc, RECT{0, 0, width(), height()}, background_);
  for (const Block& block : blocks_) FillSolid(dc, block.rect, block.color);
}

LRESULT CALLBACK TestWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TestWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self) {
    switch (message) {
      case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = ::BeginPaint(window, &paint);
        self->Paint(dc);
        ::EndPaint(window, &paint);
        return 0;
      }
      case WM_PRINTCLIENT:
        self->Paint(reinterpret_cast<HDC>(wParam));
        return 0;
      case WM_ERASEBKGND:
        return 1;
      case WM_SETCURSOR:
        if (self->cursor_) {
          ::SetCursor(self->cursor_);
          return TRUE;
        }
        break;
      default:
        break;
    }
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

WindowThread::WindowThread(const RECT& screenRect)
    : rect_(screenRect), ready_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      stop_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  thread_ = ::CreateThread(nullptr, 0, &WindowThread::Main, this, 0, nullptr);
  if (thread_) ::WaitForSingleObject(ready_, 20000);
}

WindowThread::~WindowThread() {
  ::SetEvent(stop_);
  if (thread_) {
    ::WaitForSingleObject(thread_, 20000);
    ::CloseHandle(thread_);
  }
  ::CloseHandle(stop_);
  ::CloseHandle(ready_);
}

DWORD WINAPI WindowThread::Main(void* self) {
  auto* owner = static_cast<WindowThread*>(self);
  TestWindow window = TestWindow::Quadrants(owner->rect_);
  owner->window_ = &window;
  owner->shown_ = window.WaitUntilShown();
  ::SetEvent(owner->ready_);
  while (::MsgWaitForMultipleObjects(1, &owner->stop_, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
    PumpMessages();
  }
  owner->window_ = nullptr;
  return 0;
}

TestCursor::TestCursor(POINT hotspot, const RECT& block) : hotspot_(hotspot), block_(block) {
  // Monochrome masks, one bit per pixel, rows of 4 bytes: AND 1 keeps the screen, AND 0
  // with XOR 0 paints black.
  BYTE andMask[32 * 4];
  BYTE xorMask[32 * 4] = {};
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const POINT p = {x, y};
      BYTE& byte = andMask[y * 4 + x / 8];
      const BYTE bit = static_cast<BYTE>(0x80 >> (x % 8));
      if (x % 8 == 0) byte = 0;
      if (!::PtInRect(&block_, p)) byte |= bit;
    }
  }
  cursor_ = ::CreateCursor(::GetModuleHandleW(nullptr), hotspot.x, hotspot.y, 32, 32, andMask, xorMask);
}

TestCursor::~TestCursor() { ::DestroyCursor(cursor_); }

void PumpMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

void PumpMessagesFor(DWORD milliseconds) {
  const DWORD start = ::GetTickCount();
  do {
    PumpMessages();
    ::Sleep(5);
  } while (::GetTickCount() - start < milliseconds);
}
