#include "preset/pixel_format.h"

#include <cstdlib>

#include "module/dorvantel.h"

namespace dorvantel {

const std::vector<PixelFormatInfo>& PixelFormats() {
  // Named as the filter's OutputFormat names them, in the same order.
  static const std::vector<PixelFormatInfo> formats = {
      {PixelFormat::Rgb32, OutputFormatNames[0], 32, false}, {PixelFormat::Rgb24, OutputFormatNames[1], 24, false},
      {PixelFormat::Rgb565, OutputFormatNames[2], 16, false}, {PixelFormat::Rgb555, OutputFormatNames[3], 16, false},
      {PixelFormat::Rgb8, OutputFormatNames[4], 8, false},    {PixelFormat::I420, OutputFormatNames[5], 12, true},
      {PixelFormat::Nv12, OutputFormatNames[6], 12, true},    {PixelFormat::Yuy2, OutputFormatNames[7], 16, true},
  };
  return formats;
}

const PixelFormatInfo* FindPixelFormat(const std::wstring& name) {
  for (const PixelFormatInfo& info : PixelFormats()) {
    if (_wcsicmp(name.c_str(), info.name) == 0) return &info;
  }
  return nullptr;
}

const PixelFormatInfo& DescribePixelFormat(PixelFormat format) { return PixelFormats()[static_cast<size_t>(format)]; }

}  // namespace dorvantel
