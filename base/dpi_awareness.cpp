#include "base/dpi_awareness.h"

namespace {

using SetContextFn = HANDLE(WINAPI*)(HANDLE);
using GetContextFn = HANDLE(WINAPI*)();
using WindowContextFn = HANDLE(WINAPI*)(HWND);
using AwarenessFn = int(WINAPI*)(HANDLE);
using WindowDpiFn = UINT(WINAPI*)(HWND);
using SystemDpiFn = UINT(WINAPI*)();
using MapPointFn = BOOL(WINAPI*)(HWND, POINT*);

// DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2.
const HANDLE kPerMonitorAwareV2 = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-4));

// user32 is loaded in every process that has a screen; its functions are read once.
struct DpiFunctions {
  SetContextFn setThreadContext = nullptr;
  GetContextFn getThreadContext = nullptr;
  WindowContextFn getWindowContext = nullptr;
  AwarenessFn awarenessOf = nullptr;
  WindowDpiFn windowDpi = nullptr;
  SystemDpiFn systemDpi = nullptr;
  MapPointFn logicalToPhysical = nullptr;

  DpiFunctions() noexcept {
    const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    if (!user32) return;
    setThreadContext = reinterpret_cast<SetContextFn>(
        reinterpret_cast<void*>(::GetProcAddress(user32, "SetThreadDpiAwarenessContext")));
    getThreadContext = reinterpret_cast<GetContextFn>(
        reinterpret_cast<void*>(::GetProcAddress(user32, "GetThreadDpiAwarenessContext")));
    getWindowContext = reinterpret_cast<WindowContextFn>(
        reinterpret_cast<void*>(::GetProcAddress(user32, "GetWindowDpiAwarenessContext")));
    awarenessOf = reinterpret_cast<AwarenessFn>(
        reinterpret_cast<void*>(::GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));
    windowDpi = reinterpret_cast<WindowDpiFn>(reinterpret_cast<void*>(::GetProcAddress(user32, "GetDpiForWindow")));
    systemDpi = reinterpret_cast<SystemDpiFn>(reinterpret_cast<void*>(::GetProcAddress(user32, "GetDpiForSystem")));
    logicalToPhysical = reinterpret_cast<MapPointFn>(
        reinterpret_cast<void*>(::GetProcAddress(user32, "LogicalToPhysicalPointForPerMonitorDPI")));
  }
};

const DpiFunctions& Functions() noexcept {
  static const DpiFunctions functions;
  return functions;
}

}  // namespace

DpiContext::DpiContext(HANDLE context) noexcept {
  const SetContextFn set = Functions().setThreadContext;
  if (context && set) previous_ = set(context);
}

DpiContext::~DpiContext() {
  if (previous_) Functions().setThreadContext(previous_);
}

PhysicalPixels::PhysicalPixels() noexcept : DpiContext(kPerMonitorAwareV2) {}

int ThreadDpiAwareness() noexcept {
  const DpiFunctions& f = Functions();
  if (!f.getThreadContext || !f.awarenessOf) return -1;
  return f.awarenessOf(f.getThreadContext());
}

RECT WindowRectAsPainted(HWND window) noexcept {
  const WindowContextFn windowContext = Functions().getWindowContext;
  DpiContext own(windowContext ? windowContext(window) : nullptr);
  RECT rect = {};
  ::GetWindowRect(window, &rect);
  return rect;
}

RECT WindowRectOnScreen(HWND window) noexcept {
  const DpiFunctions& f = Functions();
  PhysicalPixels physical;
  RECT rect = {};
  ::GetWindowRect(window, &rect);
  const UINT drawnFor = f.windowDpi ? f.windowDpi(window) : 0;
  const UINT screen = f.systemDpi ? f.systemDpi() : 0;  // as a per-monitor-aware thread sees it
  if (drawnFor == 0 || screen == 0 || drawnFor == screen) return rect;
  const RECT painted = WindowRectAsPainted(window);
  // Windows maps the rectangle for this thread itself; Wine gives the painted one.
  if (!::EqualRect(&painted, &rect)) return rect;
  POINT corner = {painted.left, painted.top};
  if (!f.logicalToPhysical || !f.logicalToPhysical(window, &corner)) {
    corner = POINT{::MulDiv(painted.left, static_cast<int>(screen), static_cast<int>(drawnFor)),
                   ::MulDiv(painted.top, static_cast<int>(screen), static_cast<int>(drawnFor))};
  }
  const int width = ::MulDiv(painted.right - painted.left, static_cast<int>(screen), static_cast<int>(drawnFor));
  const int height = ::MulDiv(painted.bottom - painted.top, static_cast<int>(screen), static_cast<int>(drawnFor));
  return RECT{corner.x, corner.y, corner.x + width, corner.y + height};
}
