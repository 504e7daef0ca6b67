// colour_window X,Y R,G,B [R,G,B...]: a window of known colours for the host tests to record,
// blocks of 40 x 40 pixels side by side at X,Y on the screen. Prints "ready" once the screen
// shows them and keeps the window until it is ended.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include "tests/support/test_window.h"

int wmain(int argc, wchar_t** argv) {
  int x = 0, y = 0, r = 0, g = 0, b = 0;
  std::vector<TestWindow::Block> blocks;
  bool ok = argc > 2 && std::swscanf(argv[1], L"%d,%d", &x, &y) == 2;
  for (int i = 2; ok && i < argc; ++i) {
    ok = std::swscanf(argv[i], L"%d,%d,%d", &r, &g, &b) == 3;
    const LONG left = static_cast<LONG>(blocks.size()) * 40;
    blocks.push_back({RECT{left, 0, left + 40, 40}, RGB(r, g, b)});
  }
  if (!ok) {
    std::fprintf(stderr, "usage: colour_window X,Y R,G,B [R,G,B...]\n");
    return 2;
  }
  TestWindow window(RECT{x, y, x + static_cast<LONG>(blocks.size()) * 40, y + 40}, RGB(0, 0, 0), blocks);
  if (!window.WaitUntilShown()) return 1;
  std::printf("ready\n");
  std::fflush(stdout);
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
  return 0;
}
