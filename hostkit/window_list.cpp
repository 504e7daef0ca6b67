#include "hostkit/window_list.h"

#include "base/window_title.h"

namespace dorvantel {

namespace {

BOOL CALLBACK ListWindow(HWND window, LPARAM data) {
  auto* windows = reinterpret_cast<std::vector<ListedWindow>*>(data);
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  const int length = ::GetWindowTextLengthW(window);
  if (process == ::GetCurrentProcessId() || !::IsWindowVisible(window) || length <= 0) return TRUE;
  std::wstring title(static_cast<size_t>(length) + 1, L'\0');
  title.resize(static_cast<size_t>(::GetWindowTextW(window, &title[0], length + 1)));
  if (!title.empty()) windows->push_back(ListedWindow{window, title});
  return TRUE;
}

}  // namespace

std::vector<ListedWindow> ListOtherWindows() {
  std::vector<ListedWindow> windows;
  ::EnumWindows(ListWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

HWND FindCapturedWindow(const Preset& preset) {
  return preset.target == CaptureTarget::Window ? FindWindowByTitle(preset.windowTitle) : nullptr;
}

}  // namespace dorvantel
