#include "bench/layouts.h"

#include <cstring>
#include <iterator>

namespace dorvantel {

namespace {

const Layout kLayouts[] = {
    {"rgb32", 0, 32, BI_RGB, {0, 0, 0}},
    {"rgb24", 1, 24, BI_RGB, {0, 0, 0}},
    {"rgb565", 2, 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}},
    {"rgb555", 3, 16, BI_RGB, {0, 0, 0}},
    {"rgb8", 4, 8, BI_RGB, {0, 0, 0}},
    {"rgb555masks", 5, 16, BI_BITFIELDS, {0x7C00, 0x03E0, 0x001F}},
};

}  // namespace

const Layout* FindLayout(const std::string& name) {
  for (const Layout& layout : kLayouts) {
    if (name == layout.name) return &layout;
  }
  return nullptr;
}

LayoutBuffer::LayoutBuffer(const Layout& layout, LONG width, LONG height)
    : info_((sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD)) / sizeof(DWORD), 0) {
  auto* header = reinterpret_cast<BITMAPINFOHEADER*>(info_.data());
  header->biSize = sizeof(BITMAPINFOHEADER);
  header->biWidth = width;
  header->biHeight = height;
  header->biPlanes = 1;
  header->biBitCount = layout.bitCount;
  header->biCompression = layout.compression;
  header->biClrUsed = layout.bitCount == 8 ? 256 : 0;
  const size_t stride = (static_cast<size_t>(width) * layout.bitCount + 31) / 32 * 4;
  header->biSizeImage = static_cast<DWORD>(stride * height);
  if (layout.compression == BI_BITFIELDS) std::memcpy(header + 1, layout.masks, sizeof(layout.masks));
  pixels_.resize(header->biSizeImage);
}

}  // namespace dorvantel
