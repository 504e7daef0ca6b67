#pragma once
// The output layouts of the desktop pin, by the names the benchmark uses (rgb32, rgb24,
// rgb565, rgb555 with BI_RGB, rgb8, rgb555masks: 5-5-5 with BI_BITFIELDS; i420, nv12, yuy2 for
// the own cases: in Wine's graph their connection fails, VFW_E_NO_ACCEPTABLE_TYPES), as bitmap infos
// that GetDIBits can fill. GetDIBits' own 8-bit conversion (its colour table) is the platform's
// baseline for rgb8; the filter maps to its colour cube instead.

#include <windows.h>
#include <strmif.h>

#include <string>
#include <vector>

#include "hostkit/pins.h"

namespace dorvantel {

struct Layout {
  const char* name;
  int position;  // the pin's format position
  WORD bitCount;
  DWORD compression;
  DWORD masks[3];
};

// Null for an unknown name.
const Layout* FindLayout(const std::string& name);

// The pin's type at a format position: from its media type enumerator for the pin's own five,
// from IAMStreamConfig's capabilities beyond them (the enumerator offers those only once chosen).
HRESULT PositionType(IPin* pin, int position, TaskMediaType* type);

// A bitmap info of width x height in a layout, with room for its masks or colour table,
// and a buffer of one frame in it.
class LayoutBuffer {
 public:
  LayoutBuffer(const Layout& layout, LONG width, LONG height);
  BITMAPINFO* Info() { return reinterpret_cast<BITMAPINFO*>(info_.data()); }
  size_t InfoBytes() const { return info_.size() * sizeof(DWORD); }
  BYTE* Pixels() { return pixels_.data(); }
  size_t PixelBytes() const { return pixels_.size(); }

 private:
  std::vector<DWORD> info_;
  std::vector<BYTE> pixels_;
};

}  // namespace dorvantel
