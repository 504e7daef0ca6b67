// dorvantel-demo: the demo window on its own, for a display to record.
//   dorvantel-demo [--at X,Y] [--size WxH] [--title TITLE] [--seconds S]
// Prints "ready" on standard output once the window has been painted; Escape closes it.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "hostkit/demo_window.h"

namespace dorvantel {

namespace {

bool ParsePair(const wchar_t* text, wchar_t separator, int* a, int* b) {
  wchar_t* end = nullptr;
  *a = static_cast<int>(std::wcstol(text, &end, 10));
  if (*end != separator) return false;
  *b = static_cast<int>(std::wcstol(end + 1, &end, 10));
  return *end == L'\0';
}

}  // namespace

}  // namespace dorvantel

int wmain(int argc, wchar_t** argv) {
  using namespace dorvantel;
  int x = 0, y = 0, width = 0, height = 0;
  double seconds = 0;
  bool placed = false;
  std::wstring title = L"Dorvantel demo";
  for (int i = 1; i < argc; i += 2) {
    const std::wstring name = argv[i];
    const wchar_t* value = i + 1 < argc ? argv[i + 1] : nullptr;
    bool ok = value != nullptr;
    if (ok && name == L"--at") {
      ok = ParsePair(value, L',', &x, &y);
      placed = true;
    } else if (ok && name == L"--size") {
      ok = ParsePair(value, L'x', &width, &height) && width > 0 && height > 0;
    } else if (ok && name == L"--title") {
      title = value;
    } else if (ok && name == L"--seconds") {
      seconds = std::wcstod(value, nullptr);
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "usage: dorvantel-demo [--at X,Y] [--size WxH] [--title TITLE] [--seconds S]\n");
      return 2;
    }
  }
  RECT bounds{};
  if (placed || width > 0) {
    if (width == 0) width = 640, height = 360;
    if (!placed) {
      x = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
      y = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    }
    bounds = RECT{x, y, x + width, y + height};
  }
  DemoWindow demo;
  if (FAILED(demo.Show(bounds, title))) {
    std::fprintf(stderr, "dorvantel-demo: error: cannot show the window\n");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  if (seconds > 0) {
    ::Sleep(static_cast<DWORD>(seconds * 1000));
    return 0;
  }
  demo.WaitUntilClosed();
  return 0;
}
