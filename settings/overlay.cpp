#include "settings/overlay.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/gdi_resources.h"

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
struct Overlay {
  OverlayMode mode;
  POINT origin{};  // the virtual screen's corner
  ScreenPicture bright, dim;
  RECT selection{};  // screen coordinates
  bool dragging = false;
  POINT anchor{};
  POINT mouse{-1, -1};
  bool done = false, taken = false;
  // Window mode: the visible top-level windows of other processes, top first.
  std::vector<std::pair<HWND, RECT>> windows;
  HWND hovered = nullptr;
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
  RECT bounds;
  if (process != ::GetCurrentProcessId() && ::IsWindowVisible(window) && !::IsIconic(window) &&
      ::GetWindowTextLengthW(window) > 0 && ::GetWindowRect(window, &bounds) && HasArea(bounds)) {
    overlay->windows.emplace_back(window, bounds);
  }
  return TRUE;
}

void Paint(HWND hwnd, Overlay* o) {
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(hwnd, &paint);
  const int w = o->bright.width, h = o->bright.height;
  // Drawn off screen, then copied at once: no flicker while dragging.
  MemoryDC canvas(::CreateCompatibleDC(dc));
  BitmapHandle canvasBitmap(::CreateCompatibleBitmap(dc, w, h));
  SelectedObject selectCanvas(canvas.get(), canvasBitmap.get());
  ::BitBlt(canvas.get(), 0, 0, w, h, o->dim.dc.get(), 0, 0, SRCCOPY);

  RECT shown = o->selection;
  if (o->mode == OverlayMode::Window) {
    shown = RECT{};
    for (const auto& entry : o->windows) {
      if (entry.first == o->hovered) shown = entry.second;
    }
  }
  if (HasArea(shown)) {
    RECT r = shown;
    ::OffsetRect(&r, -o->origin.x, -o->origin.y);
    ::BitBlt(canvas.get(), r.left, r.top, r.right - r.left, r.bottom - r.top, o->bright.dc.get(), r.left, r.top,
             SRCCOPY);
    GdiObject<HBRUSH> edge(::CreateSolidBrush(kEdgeColour));
    RECT outer{r.left - 2, r.top - 2, r.right + 2, r.bottom + 2};
    ::FrameRect(canvas.get(), &outer, edge.get());
    ::InflateRect(&outer, -1, -1);
    ::FrameRect(canvas.get(), &outer, edge.get());
    // The size, just below the region (above it at the screen's bottom).
    const std::wstring size =
        std::to_wstring(shown.right - shown.left) + L" x " + std::to_wstring(shown.bottom - shown.top);
    SIZE extent;
    ::GetTextExtentPoint32W(canvas.get(), size.c_str(), static_cast<int>(size.size()), &extent);
    int labelY = r.bottom + 4;
    if (labelY + extent.cy + 4 > h) labelY = std::max(0, static_cast<int>(r.top - extent.cy - 8));
    RECT label{r.left, labelY, r.left + extent.cx + 8, labelY + extent.cy + 4};
    GdiObject<HBRUSH> back(::CreateSolidBrush(RGB(0, 0, 0)));
    ::FillRect(canvas.get(), &label, back.get());
    ::SetBkMode(canvas.get(), TRANSPARENT);
    ::SetTextColor(canvas.get(), RGB(255, 255, 255));
    ::TextOutW(canvas.get(), label.left + 4, label.top + 2, size.c_str(), static_cast<int>(size.size()));
  }
  if (o->mode == OverlayMode::Region && !o->dragging && o->mouse.x >= 0) {
    // The crosshair through the mouse.
    GdiObject<HPEN> pen(::CreatePen(PS_SOLID, 1, kEdgeColour));
    SelectedObject selectPen(canvas.get(), pen.get());
    const int x = o->mouse.x - o->origin.x, y = o->mouse.y - o->origin.y;
    ::MoveToEx(canvas.get(), x, 0, nullptr);
    ::LineTo(canvas.get(), x, h);
    ::MoveToEx(canvas.get(), 0, y, nullptr);
    ::LineTo(canvas.get(), w, y);
  }
  const wchar_t* help = o->mode == OverlayMode::Region
                            ? L"Drag to draw the region. Arrows move it, Shift+arrows move its right and bottom edges, "
                              L"Ctrl: 10 pixels. Enter or a double click takes it, Esc cancels."
                            : L"Click the window to capture. Esc cancels.";
  RECT banner{0, 0, w, 24};
  GdiObject<HBRUSH> back(::CreateSolidBrush(RGB(32, 32, 32)));
  ::FillRect(canvas.get(), &banner, back.get());
  ::SetBkMode(canvas.get(), TRANSPARENT);
  ::SetTextColor(canvas.get(), RGB(255, 255, 255));
  ::DrawTextW(canvas.get(), help, -1, &banner, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);

  ::BitBlt(dc, 0, 0, w, h, canvas.get(), 0, 0, SRCCOPY);
  selectCanvas.Restore();
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
    case WM_MOUSEMOVE: {
      o->mouse = ScreenPoint(hwnd, lparam);
      if (o->dragging) o->selection = Normalised(o->anchor, o->mouse);
      if (o->mode == OverlayMode::Window) {
        o->hovered = nullptr;
        for (const auto& entry : o->windows) {
          if (::PtInRect(&entry.second, o->mouse)) {
            o->hovered = entry.first;
            break;
          }
        }
      }
      ::InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    }
    case WM_LBUTTONDOWN:
      o->mouse = ScreenPoint(hwnd, lparam);
      if (o->mode == OverlayMode::Window) {
        for (const auto& entry : o->windows) {
          if (::PtInRect(&entry.second, o->mouse)) {
            o->hovered = entry.first;
            o->selection = entry.second;
            o->taken = o->done = true;
            break;
          }
        }
        return 0;
      }
      o->dragging = true;
      o->anchor = o->mouse;
      o->selection = Normalised(o->anchor, o->mouse);
      ::SetCapture(hwnd);
      ::InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_LBUTTONUP:
      if (o->dragging) {
        o->dragging = false;
        o->selection = Normalised(o->anchor, ScreenPoint(hwnd, lparam));
        ::ReleaseCapture();
        ::InvalidateRect(hwnd, nullptr, FALSE);
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
        case VK_LEFT: Nudge(o, -1, 0); break;
        case VK_RIGHT: Nudge(o, 1, 0); break;
        case VK_UP: Nudge(o, 0, -1); break;
        case VK_DOWN: Nudge(o, 0, 1); break;
        default: return 0;
      }
      ::InvalidateRect(hwnd, nullptr, FALSE);
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

bool RunOverlay(HWND owner, OverlayMode mode, RECT* region, HWND* window) {
  Overlay o;
  o.mode = mode;
  o.origin = POINT{::GetSystemMetrics(SM_XVIRTUALSCREEN), ::GetSystemMetrics(SM_YVIRTUALSCREEN)};
  const int w = ::GetSystemMetrics(SM_CXVIRTUALSCREEN), h = ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
  {
    WindowDC screen = WindowDC::Get(nullptr);
    if (!screen || !o.bright.Make(screen.get(), w, h) || !o.dim.Make(screen.get(), w, h)) return false;
    ::BitBlt(o.bright.dc.get(), 0, 0, w, h, screen.get(), o.origin.x, o.origin.y, SRCCOPY | CAPTUREBLT);
  }
  ::GdiFlush();
  Dim(o.bright, &o.dim);
  if (mode == OverlayMode::Region && region && HasArea(*region)) o.selection = *region;
  if (mode == OverlayMode::Window) ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&o));

  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = OverlayProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kClassName;
  ::RegisterClassExW(&windowClass);  // fails harmlessly when registered already
  const wchar_t* title = mode == OverlayMode::Region ? L"Dorvantel region" : L"Dorvantel pick a window";
  HWND hwnd = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClassName, title, WS_POPUP, o.origin.x, o.origin.y,
                                w, h, owner, nullptr, instance, &o);
  if (!hwnd) return false;
  ::ShowWindow(hwnd, SW_SHOW);
  ::SetForegroundWindow(hwnd);
  ::SetFocus(hwnd);
  POINT cursor;
  if (::GetCursorPos(&cursor)) o.mouse = cursor;

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
