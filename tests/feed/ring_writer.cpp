// A frame ring's writer for the two-process tests: writes frames filled with their number's
// pattern (ring_pattern.h) into the named ring as fast as it can, for the given seconds or
// until it is killed.
//   ring_writer.exe NAME SECONDS WIDTH HEIGHT
#include <windows.h>

#include <cstdlib>
#include <vector>

#include "base/frame_ring.h"
#include "tests/feed/ring_pattern.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) return 2;
  uint32_t width = static_cast<uint32_t>(_wtoi(argv[3])), height = static_cast<uint32_t>(_wtoi(argv[4]));
  FrameRing ring;
  if (FAILED(ring.Attach(argv[1], width * height * 4))) return 3;
  RingFrameFormat format{width, height, FrameRing::kRgb32, width * 4, width * height * 4};
  std::vector<BYTE> frame(format.bytes);
  ULONGLONG end = ::GetTickCount64() + 1000ull * _wtoi(argv[2]);
  while (::GetTickCount64() < end) {
    FillPattern(ring.NewestNumber() + 1, frame.data(), frame.size());
    if (FAILED(ring.Write(format, frame.data()))) return 4;
  }
  return 0;
}
