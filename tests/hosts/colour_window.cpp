// colour_window: a window of known colours for the host tests to record. Blocks of 40 x 40
// pixels side by side, one for each colour given, at X,Y on the screen.
//   colour_window X,Y R,G,B [R,G,B...]
// Prints "ready" once the screen shows them, then keeps the window until it is ended.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include "tests/support/test_window.h"

namespace {

constexpr LONG kSide = 40;

bool ParseNumbers(const wchar_t* text, int count, int* numbers) {
  for (int i = 0; i < count; ++i) {
    wchar_t* end = nullptr;
    numbers[i] = static_cast<int>(std::wcstol(text, &end, 10));
    if (end == text || *end != (i + 1 < count ? L',' : L'\0')) return false;
    text = end + 1;
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int corner[2] = {};
  std::vector<TestWindow::Block> blocks;
  bool ok = argc > 2 && ParseNumbers(argv[1], 2, corner);
  for (int i = 2; ok && i < argc; ++i) {
    int rgb[3] = {};
    ok = ParseNumbers(argv[i], 3, rgb);
    const LONG left = static_cast<LONG>(blocks.size()) * kSide;
    blocks.push_back({RECT{left, 0, left + kSide, kSide}, RGB(rgb[0], rgb[1], rgb[2])});
  }
  if (!ok) {
    std::fprintf(stderr, "usage: colour_window X,Y R,G,B [R,G,B...]\n");
    return 2;
  }
  const LONG width = static_cast<LONG>(blocks.size()) * kSide;
  TestWindow window(RECT{corner[0], corner[1], corner[0] + width, corner[1] + kSide}, RGB(0, 0, 0), blocks);
  if (!window.WaitUntilShown()) {
    std::fprintf(stderr, "colour_window: the window did not show\n");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
  return 0;
}
