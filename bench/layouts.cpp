#include "bench/layouts.h"

#include <cstring>
#include <iterator>

#include "base/com_ptr.h"

namespace dorvantel {

namespace {

const Layout kLayouts[] = {
    {"rgb32", 0, 32, BI_RGB, {0, 0, 0}},
    {"rgb24", 1, 24, BI_RGB, {0, 0, 0}},
    {"rgb565", 2, 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}},
    {"rgb555", 3, 16, BI_RGB, {0, 0, 0}},
    {"rgb8", 4, 8, BI_RGB, {0, 0, 0}},
    {"rgb555masks", 5, 16, BI_BITFIELDS, {0x7C00, 0x03E0, 0x001F}},
    // The filter's YUV formats, for filter and own cases only (GetDIBits makes none of them).
    {"i420", 6, 12, 0x30323449 /* I420 */, {0, 0, 0}},
    {"nv12", 7, 12, 0x3231564E /* NV12 */, {0, 0, 0}},
    {"yuy2", 8, 16, 0x32595559 /* YUY2 */, {0, 0, 0}},
};

}  // namespace

const Layout* FindLayout(const std::string& name) {
  for (const Layout& layout : kLayouts) {
    if (name == layout.name) return &layout;
  }
  return nullptr;
}

HRESULT PositionType(IPin* pin, int position, TaskMediaType* type) {
  if (position < 5) return OfferedType(pin, position, type);
  ComPtr<IAMStreamConfig> config;
  HRESULT hr = pin->QueryInterface(IID_IAMStreamConfig, config.put_void());
  if (FAILED(hr)) return hr;
  VIDEO_STREAM_CONFIG_CAPS caps = {};
  return config->GetStreamCaps(position, type->put(), reinterpret_cast<BYTE*>(&caps));
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
