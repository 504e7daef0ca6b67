// dorvantel-demo: a borderless window of known content to record: eight colour bars over
// the upper two thirds, and a white square that crosses a grey band below them.
//   dorvantel-demo [--at X,Y] [--size WxH] [--title TITLE] [--seconds S]
// Prints "ready" on standard output once the window has been painted.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr UINT_PTR kAnimationTimer = 1;
constexpr UINT_PTR kQuitTimer = 2;
constexpr COLORREF kBars[8] = {RGB(255, 255, 255), RGB(255, 255, 0), RGB(0, 255, 255), RGB(0, 255, 0),
                               RGB(255, 0, 255),   RGB(255, 0, 0),   RGB(0, 0, 255),   RGB(0, 0, 0)};
constexpr COLORREF kBand = RGB(64, 64, 64);
constexpr COLORREF kSquare = RGB(255, 255, 255);

bool announced = false;
DWORD started = 0;

void Fill(HDC dc, const RECT& area, COLORREF colour) {
  HBRUSH brush = ::CreateSolidBrush(colour);
  ::FillRect(dc, &area, brush);
  ::DeleteObject(brush);
}

RECT BandRect(HWND window) {
  RECT client;
  ::GetClientRect(window, &client);
  client.top = client.bottom * 2 / 3;
  return client;
}

void Paint(HWND window, HDC dc) {
  RECT client;
  ::GetClientRect(window, &client);
  const int bars_bottom = client.bottom * 2 / 3;
  for (int i = 0; i < 8; ++i) {
    RECT bar{client.right * i / 8, 0, client.right * (i + 1) / 8, bars_bottom};
    Fill(dc, bar, kBars[i]);
  }
  RECT band = BandRect(window);
  Fill(dc, band, kBand);
  // One crossing every two seconds.
  const int side = (band.bottom - band.top) / 2;
  const int travel = band.right - side;
  const DWORD phase = (::GetTickCount() - started) % 2000;
  const int x = travel > 0 ? static_cast<int>(travel * phase / 2000) : 0;
  RECT square{x, band.top + side / 2, x + side, band.top + side / 2 + side};
  Fill(dc, square, kSquare);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = ::BeginPaint(window, &paint);
      Paint(window, dc);
      ::EndPaint(window, &paint);
      if (!announced) {
        announced = true;
        std::printf("ready\n");
        std::fflush(stdout);
      }
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_TIMER:
      if (wparam == kQuitTimer) {
        ::DestroyWindow(window);
      } else {
        RECT band = BandRect(window);
        ::InvalidateRect(window, &band, FALSE);
      }
      return 0;
    case WM_KEYDOWN:
      if (wparam == VK_ESCAPE) ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

bool ParsePair(const wchar_t* text, wchar_t separator, int* a, int* b) {
  wchar_t* end = nullptr;
  *a = static_cast<int>(std::wcstol(text, &end, 10));
  if (*end != separator) return false;
  *b = static_cast<int>(std::wcstol(end + 1, &end, 10));
  return *end == L'\0';
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int screen_width = ::GetSystemMetrics(SM_CXSCREEN);
  const int screen_height = ::GetSystemMetrics(SM_CYSCREEN);
  int width = 640, height = 360;
  int x = -1, y = -1;
  double seconds = 0;
  std::wstring title = L"Dorvantel demo";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::wstring name = argv[i];
    bool ok = true;
    if (name == L"--at") {
      ok = ParsePair(argv[i + 1], L',', &x, &y);
    } else if (name == L"--size") {
      ok = ParsePair(argv[i + 1], L'x', &width, &height) && width > 0 && height > 0;
    } else if (name == L"--title") {
      title = argv[i + 1];
    } else if (name == L"--seconds") {
      seconds = std::wcstod(argv[i + 1], nullptr);
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "usage: dorvantel-demo [--at X,Y] [--size WxH] [--title TITLE] [--seconds S]\n");
      return 2;
    }
  }
  if (x < 0 || y < 0) {
    x = (screen_width - width) / 2;
    y = (screen_height - height) / 2;
  }

  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  window_class.lpszClassName = L"DorvantelDemo";
  if (!::RegisterClassW(&window_class)) return 1;
  started = ::GetTickCount();
  HWND window = ::CreateWindowExW(WS_EX_TOPMOST, window_class.lpszClassName, title.c_str(),
                                  WS_POPUP | WS_VISIBLE, x, y, width, height, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ::SetTimer(window, kAnimationTimer, 33, nullptr);
  if (seconds > 0) ::SetTimer(window, kQuitTimer, static_cast<UINT>(seconds * 1000), nullptr);

  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return 0;
}
