#include "editor/overlay.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/dpi_awareness.h"
#include "base/gdi_resources.h"
#include "base/monitors.h"
#include "editor/dialog_parts.h"

namespace dorvantel {

namespace {

constexpr wchar_t kClassName[] = L"DorvantelOverlay";
constexpr COLORREF kEdgeColour = RGB(255, 96, 0);

// A 32-bit top-down picture of the whole virtual screen, in a DIB section selected into a
// memory DC of its own.
struct ScreenPicture {
  MemoryDC dc;
  BitmapHandle bitmap;
  HGDIOBJ previous = nullptr;
  DWORD* pixels = nullptr;
  int width = 0, height = 0;

  ~ScreenPicture() {
    if (previous) ::SelectObject(dc.get(), previous);
  }
  bool Make(HDC screen, int w, int h) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    bitmap.reset(::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    dc.reset(::CreateCompatibleDC(screen));
    if (!bitmap || !dc || !bits) return false;
    previous = ::SelectObject(dc.get(), bitmap.get());
    pixels = static_cast<DWORD*>(bits);
    width = w;
    height = h;
    return true;
  }
};

// The overlay's state, owned by RunOverlay's frame; the window's user data points at it.
// Sizes in pixels are at 96 DPI and scaled to the window's.
struct Overlay {
  OverlayMode mode;
  POINT origin{};  // the virtual screen's corner: the window's 0,0
  int width = 0, height = 0;
  int dpi = 96;
  GdiObject<HFONT> font;      // the help's and the size's, at the window's DPI
  ScreenPicture bright, dim;  // the screen when the overlay opened, and dimmed
  ScreenPicture canvas;       // what the window shows, composed where it changes
  std::vector<RECT> banners;  // the help line at the top of each monitor, window coordinates
  RECT selection{};           // screen coordinates
  bool dragging = false;
  POINT anchor{};
  POINT mouse{};
  bool mouseKnown = false;
  bool done = false, taken = false;
  // Window mode: the visible top-level windows of other processes, top first.
  std::vector<std::pair<HWND, RECT>> windows;
  HWND hovered = nullptr;

  int Scaled(int pixels) const { return ::MulDiv(pixels, dpi, 96); }
};

// The region between the pixel pressed and the pixel released: from 120 to 300 is 180 wide.
RECT Normalised(POINT a, POINT b) {
  return RECT{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
}

bool HasArea(const RECT& r) { return r.right > r.left && r.bottom > r.top; }

BOOL CALLBACK CollectWindow(HWND window, LPARAM data) {
  auto* overlay = reinterpret_cast<Overlay*>(data);
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  if (process != ::GetCurrentProcessId() && ::IsWindowVisible(window) && !::IsIconic(window) &&
      ::GetWindowTextLengthW(window) > 0) {
    const RECT bounds = WindowRectOnScreen(window);
    if (HasArea(bounds)) overlay->windows.emplace_back(window, bounds);
  }
  return TRUE;
}

// What the overlay draws over the dimmed picture, in window coordinates: the region (or the
// window under the mouse) bright with its frame and its size below it, and the crosshair.
struct Marks {
  RECT shown{};   // the bright part
  RECT bounds{};  // the part with its frame and its size
  RECT label{};
  std::wstring size;
  RECT lines[2] = {};  // the crosshair's, none while dragging

  bool operator==(const Marks& other) const {
    return ::EqualRect(&bounds, &other.bounds) && ::EqualRect(&lines[0], &other.lines[0]) &&
           ::EqualRect(&lines[1], &other.lines[1]) && size == other.size;
  }
};

Marks MarksOf(const Overlay& o) {
  Marks marks;
  RECT shown = o.selection;
  if (o.mode == OverlayMode::Window) {
    shown = RECT{};
    for (const auto& entry : o.windows) {
      if (entry.first == o.hovered) shown = entry.second;
    }
  }
  if (HasArea(shown)) {
    marks.size = std::to_wstring(shown.right - shown.left) + L" x " + std::to_wstring(shown.bottom - shown.top);
    ::OffsetRect(&shown, -o.origin.x, -o.origin.y);
    marks.shown = shown;
    SIZE extent{};
    {
      SelectedObject font(o.canvas.dc.get(), o.font.get());
      ::GetTextExtentPoint32W(o.canvas.dc.get(), marks.size.c_str(), static_cast<int>(marks.size.size()), &extent);
    }
    // Just below the region, above it at the screen's bottom.
    const int pad = o.Scaled(4);
    int top = shown.bottom + pad;
    if (top + extent.cy + pad > o.height) top = std::max(0, static_cast<int>(shown.top - extent.cy - 2 * pad));
    marks.label = RECT{shown.left, top, shown.left + extent.cx + 2 * pad, top + extent.cy + pad};
    marks.bounds = shown;
    const int frame = o.Scaled(2);
    ::InflateRect(&marks.bounds, frame, frame);
    ::UnionRect(&marks.bounds, &marks.bounds, &marks.label);
  }
  if (o.mode == OverlayMode::Region && !o.dragging && o.mouseKnown) {
    const int x = o.mouse.x - o.origin.x, y = o.mouse.y - o.origin.y;
    marks.lines[0] = RECT{x, 0, x + 1, o.height};
    marks.lines[1] = RECT{0, y, o.width, y + 1};
  }
  return marks;
}

// Changes the overlay's state and repaints what the change touched: where the marks were and
// where they are. A drag repaints the union of the old and the new region, a crosshair's move
// its old and new lines; the rest of the screen is not touched.
template <typename Change>
void Update(HWND hwnd, Overlay* o, Change change) {
  const Marks before = MarksOf(*o);
  change();
  const Marks after = MarksOf(*o);
  if (before == after) return;
  RECT both;
  ::UnionRect(&both, &before.bounds, &after.bounds);
  GdiObject<HRGN> touched(::CreateRectRgnIndirect(&both));
  for (const Marks* marks : {&before, &after}) {
    for (const RECT& line : marks->lines) {
      GdiObject<HRGN> part(::CreateRectRgnIndirect(&line));
      ::CombineRgn(touched.get(), touched.get(), part.get(), RGN_OR);
    }
  }
  ::InvalidateRgn(hwnd, touched.get(), FALSE);
}

void Compose(const Overlay& o, const RECT& area) {
  HDC canvas = o.canvas.dc.get();
  const Marks marks = MarksOf(o);
  ::BitBlt(canvas, area.left, area.top, area.right - area.left, area.bottom - area.top, o.dim.dc.get(), area.left,
           area.top, SRCCOPY);
  SelectedObject font(canvas, o.font.get());
  ::SetBkMode(canvas, TRANSPARENT);
  ::SetTextColor(canvas, RGB(255, 255, 255));
  if (HasArea(marks.shown)) {
    const RECT& r = marks.shown;
    ::BitBlt(canvas, r.left, r.top, r.right - r.left, r.bottom - r.top, o.bright.dc.get(), r.left, r.top, SRCCOPY);
    GdiObject<HBRUSH> edge(::CreateSolidBrush(kEdgeColour));
    RECT outer = r;
    for (int i = 0; i < o.Scaled(2); ++i) {
      ::InflateRect(&outer, 1, 1);
      ::FrameRect(canvas, &outer, edge.get());
    }
    GdiObject<HBRUSH> back(::CreateSolidBrush(RGB(0, 0, 0)));
    ::FillRect(canvas, &marks.label, back.get());
    const int pad = o.Scaled(4);
    ::TextOutW(canvas, marks.label.left + pad, marks.label.top + pad / 2, marks.size.c_str(),
               static_cast<int>(marks.size.size()));
  }
  GdiObject<HBRUSH> edge(::CreateSolidBrush(kEdgeColour));
  for (const RECT& line : marks.lines) ::FillRect(canvas, &line, edge.get());
  const wchar_t* help = o.mode == OverlayMode::Region
                            ? L"Drag to draw the region. Arrows move it, Shift+arrows move its right and bottom edges, "
                              L"Ctrl: 10 pixels. Enter or a double click takes it, Esc cancels."
                            : L"Click the window to capture. Esc cancels.";
  GdiObject<HBRUSH> back(::CreateSolidBrush(RGB(32, 32, 32)));
  for (RECT banner : o.banners) {
    RECT touched;
    if (!::IntersectRect(&touched, &banner, &area)) continue;
    ::FillRect(canvas, &banner, back.get());
    ::DrawTextW(canvas, help, -1, &banner, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
}

void Paint(HWND hwnd, Overlay* o) {
  // Composed off screen where it changed, then copied at once: no flicker while dragging.
  HDC canvas = o->canvas.dc.get();
  const int saved = ::SaveDC(canvas);
  GdiObject<HRGN> changed(::CreateRectRgn(0, 0, 0, 0));
  if (::GetUpdateRgn(hwnd, changed.get(), FALSE) > NULLREGION) ::SelectClipRgn(canvas, changed.get());
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(hwnd, &paint);
  const RECT& area = paint.rcPaint;
  ::IntersectClipRect(canvas, area.left, area.top, area.right, area.bottom);
  Compose(*o, area);
  ::RestoreDC(canvas, saved);
  // The window's DC is clipped to the changed parts: only they are copied.
  ::BitBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, canvas, area.left, area.top,
           SRCCOPY);
  ::EndPaint(hwnd, &paint);
}

POINT ScreenPoint(HWND hwnd, LPARAM lparam) {
  POINT p{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
  ::ClientToScreen(hwnd, &p);
  return p;
}

void Nudge(Overlay* o, int dx, int dy) {
  const int step = (::GetKeyState(VK_CONTROL) & 0x8000) ? 10 : 1;
  dx *= step;
  dy *= step;
  RECT& r = o->selection;
  if (::GetKeyState(VK_SHIFT) & 0x8000) {
    r.right = std::max(r.left + 1, static_cast<LONG>(r.right + dx));
    r.bottom = std::max(r.top + 1, static_cast<LONG>(r.bottom + dy));
  } else {
    ::OffsetRect(&r, dx, dy);
  }
}

// The window under the point in window mode, top first; null for none.
HWND WindowAt(const Overlay& o, POINT point) {
  for (const auto& entry : o.windows) {
    if (::PtInRect(&entry.second, point)) return entry.first;
  }
  return nullptr;
}

LRESULT CALLBACK OverlayProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* o = reinterpret_cast<Overlay*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    o = static_cast<Overlay*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(o));
  }
  if (!o) return ::DefWindowProcW(hwnd, message, wparam, lparam);
  switch (message) {
    case WM_PAINT: Paint(hwnd, o); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_SETCURSOR:
      ::SetCursor(::LoadCursorW(nullptr, o->mode == OverlayMode::Region ? IDC_CROSS : IDC_HAND));
      return TRUE;
    case WM_MOUSEMOVE:
      Update(hwnd, o, [&] {
        o->mouse = ScreenPoint(hwnd, lparam);
        o->mouseKnown = true;
        if (o->dragging) o->selection = Normalised(o->anchor, o->mouse);
        if (o->mode == OverlayMode::Window) o->hovered = WindowAt(*o, o->mouse);
      });
      return 0;
    case WM_LBUTTONDOWN:
      if (o->mode == OverlayMode::Window) {
        o->mouse = ScreenPoint(hwnd, lparam);
        for (const auto& entry : o->windows) {
          if (!::PtInRect(&entry.second, o->mouse)) continue;
          o->hovered = entry.first;
          o->selection = entry.second;
          o->taken = o->done = true;
          break;
        }
        return 0;
      }
      Update(hwnd, o, [&] {
        o->mouse = ScreenPoint(hwnd, lparam);
        o->dragging = true;
        o->anchor = o->mouse;
        o->selection = Normalised(o->anchor, o->mouse);
      });
      ::SetCapture(hwnd);
      return 0;
    case WM_LBUTTONUP:
      if (o->dragging) {
        Update(hwnd, o, [&] {
          o->dragging = false;
          o->selection = Normalised(o->anchor, ScreenPoint(hwnd, lparam));
        });
        ::ReleaseCapture();
      }
      return 0;
    case WM_LBUTTONDBLCLK:
      if (o->mode == OverlayMode::Region && HasArea(o->selection)) o->taken = o->done = true;
      return 0;
    case WM_KEYDOWN:
      switch (wparam) {
        case VK_ESCAPE: o->done = true; return 0;
        case VK_RETURN:
          if (o->mode == OverlayMode::Region && HasArea(o->selection)) o->taken = o->done = true;
          return 0;
        case VK_LEFT: Update(hwnd, o, [&] { Nudge(o, -1, 0); }); return 0;
        case VK_RIGHT: Update(hwnd, o, [&] { Nudge(o, 1, 0); }); return 0;
        case VK_UP: Update(hwnd, o, [&] { Nudge(o, 0, -1); }); return 0;
        case VK_DOWN: Update(hwnd, o, [&] { Nudge(o, 0, 1); }); return 0;
      }
      return 0;
    case WM_CLOSE: o->done = true; return 0;
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

// Halves every channel: the dimmed picture outside the selection.
void Dim(const ScreenPicture& from, ScreenPicture* to) {
  const size_t count = static_cast<size_t>(from.width) * from.height;
  for (size_t i = 0; i < count; ++i) to->pixels[i] = (from.pixels[i] >> 1) & 0x7f7f7f;
}

}  // namespace

bool RunOverlay(HMODULE module, HWND owner, OverlayMode mode, RECT* region, HWND* window) {
  // The overlay measures, covers and reports the screen in physical pixels, as the filter
  // captures it, also inside a host that declared no DPI awareness: its window is made in a
  // per-monitor-aware context, and the thread keeps that context while the overlay runs.
  PhysicalPixels physical;
  Overlay o;
  o.mode = mode;
  // Every monitor: the window covers the virtual screen, whose corner may be left of or above
  // the primary's 0,0.
  o.origin = POINT{::GetSystemMetrics(SM_XVIRTUALSCREEN), ::GetSystemMetrics(SM_YVIRTUALSCREEN)};
  o.width = ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
  o.height = ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
  const int w = o.width, h = o.height;
  {
    WindowDC screen = WindowDC::Get(nullptr);
    if (!screen || !o.bright.Make(screen.get(), w, h) || !o.dim.Make(screen.get(), w, h) ||
        !o.canvas.Make(screen.get(), w, h)) {
      return false;
    }
    ::BitBlt(o.bright.dc.get(), 0, 0, w, h, screen.get(), o.origin.x, o.origin.y, SRCCOPY | CAPTUREBLT);
  }
  ::GdiFlush();
  Dim(o.bright, &o.dim);
  if (mode == OverlayMode::Region && region && HasArea(*region)) o.selection = *region;
  if (mode == OverlayMode::Window) ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&o));

  // The class is this module's and goes with the overlay: a library may be unloaded while its
  // host runs on, and a class left registered would keep a window procedure that is gone.
  const HINSTANCE instance = module;
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = OverlayProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kClassName;
  const bool registered = ::RegisterClassExW(&windowClass) != 0;  // fails harmlessly when registered already
  struct ClassOwner {
    bool owned;
    HINSTANCE instance;
    ~ClassOwner() {
      if (owned) ::UnregisterClassW(kClassName, instance);
    }
  } classOwner{registered, instance};
  const wchar_t* title = mode == OverlayMode::Region ? L"Dorvantel region" : L"Dorvantel pick a window";
  HWND hwnd = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClassName, title, WS_POPUP, o.origin.x, o.origin.y,
                                w, h, owner, nullptr, instance, &o);
  if (!hwnd) return false;
  o.dpi = static_cast<int>(WindowDpi(hwnd));
  o.font.reset(DialogFont(o.dpi, 9));
  MonitorLayout monitors;
  if (monitors.Read()) {
    for (const Monitor& monitor : monitors) {
      const RECT& m = monitor.rect;
      o.banners.push_back(
          RECT{m.left - o.origin.x, m.top - o.origin.y, m.right - o.origin.x, m.top - o.origin.y + o.Scaled(24)});
    }
  } else {
    o.banners.push_back(RECT{0, 0, w, o.Scaled(24)});
  }
  POINT cursor;
  if (::GetCursorPos(&cursor)) {
    o.mouse = cursor;
    o.mouseKnown = true;
  }
  ::ShowWindow(hwnd, SW_SHOW);
  ::SetForegroundWindow(hwnd);
  ::SetFocus(hwnd);

  MSG msg;
  while (!o.done && ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  ::DestroyWindow(hwnd);
  if (!o.taken) return false;
  if (region) *region = o.selection;
  if (window) *window = o.hovered;
  return true;
}

}  // namespace dorvantel
