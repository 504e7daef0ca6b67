#include "hostkit/demo_window.h"

namespace dorvantel {

namespace {

constexpr wchar_t kClassName[] = L"DorvantelDemo";
constexpr UINT_PTR kAnimationTimer = 1;
constexpr COLORREF kBars[8] = {RGB(255, 255, 255), RGB(255, 255, 0), RGB(0, 255, 255), RGB(0, 255, 0),
                               RGB(255, 0, 255),   RGB(255, 0, 0),   RGB(0, 0, 255),   RGB(0, 0, 0)};
constexpr COLORREF kBand = RGB(64, 64, 64);
constexpr COLORREF kSquare = RGB(255, 255, 255);

void Fill(HDC dc, const RECT& area, COLORREF colour) {
  const GdiObject<HBRUSH> brush(::CreateSolidBrush(colour));
  ::FillRect(dc, &area, brush.get());
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
  for (int i = 0; i < 8; ++i) {
    RECT bar{client.right * i / 8, 0, client.right * (i + 1) / 8, client.bottom * 2 / 3};
    Fill(dc, bar, kBars[i]);
  }
  RECT band = BandRect(window);
  Fill(dc, band, kBand);
  const int side = (band.bottom - band.top) / 2;
  const int travel = band.right - side;
  const DWORD phase = ::GetTickCount() % 2000;
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
      if (HANDLE shown = ::GetPropW(window, L"shown")) ::SetEvent(shown);
      return 0;
    }
    case WM_PRINTCLIENT: Paint(window, reinterpret_cast<HDC>(wparam)); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_TIMER: {
      RECT band = BandRect(window);
      ::InvalidateRect(window, &band, FALSE);
      return 0;
    }
    case WM_KEYDOWN:
      if (wparam == VK_ESCAPE) ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::RemovePropW(window, L"shown");
      ::PostQuitMessage(0);
      return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

DemoWindow::~DemoWindow() {
  if (!thread_) return;
  if (window_) ::PostMessageW(window_, WM_CLOSE, 0, 0);
  ::WaitForSingleObject(thread_.get(), INFINITE);
}

HRESULT DemoWindow::Show(const RECT& bounds, const std::wstring& title) {
  if (thread_) return E_UNEXPECTED;
  bounds_ = bounds;
  if (::IsRectEmpty(&bounds_)) {
    const int width = 640, height = 360;
    const int x = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    bounds_ = RECT{x, y, x + width, y + height};
  }
  title_ = title;
  shown_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!shown_) return HRESULT_FROM_WIN32(::GetLastError());
  thread_.reset(::CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr));
  if (!thread_) return HRESULT_FROM_WIN32(::GetLastError());
  HANDLE waits[2] = {shown_.get(), thread_.get()};
  const DWORD woken = ::WaitForMultipleObjects(2, waits, FALSE, 10000);
  if (woken == WAIT_OBJECT_0) return S_OK;
  if (FAILED(result_)) return result_;
  // The thread ended without showing it (a window of no error code): a failure, not a wait.
  return woken == WAIT_OBJECT_0 + 1 ? E_FAIL : HRESULT_FROM_WIN32(ERROR_TIMEOUT);
}

void DemoWindow::WaitUntilClosed() {
  if (thread_) ::WaitForSingleObject(thread_.get(), INFINITE);
}

DWORD WINAPI DemoWindow::ThreadMain(void* self) {
  static_cast<DemoWindow*>(self)->Run();
  return 0;
}

void DemoWindow::Run() {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.lpszClassName = kClassName;
  ::RegisterClassW(&windowClass);
  HWND window = ::CreateWindowExW(WS_EX_TOPMOST, kClassName, title_.c_str(), WS_POPUP, bounds_.left, bounds_.top,
                                  bounds_.right - bounds_.left, bounds_.bottom - bounds_.top, nullptr, nullptr,
                                  instance, nullptr);
  if (!window) {
    result_ = HRESULT_FROM_WIN32(::GetLastError());
    return;
  }
  window_ = window;
  ::SetPropW(window, L"shown", shown_.get());
  ::SetTimer(window, kAnimationTimer, 33, nullptr);
  ::ShowWindow(window, SW_SHOWNOACTIVATE);
  result_ = S_OK;
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  window_ = nullptr;
}

}  // namespace dorvantel
