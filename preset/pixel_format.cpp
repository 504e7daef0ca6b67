#include "preset/pixel_format.h"

#include <cstdlib>

#include "module/dorvantel.h"

namespace dorvantel {

const std::vector<PixelFormatInfo>& PixelFormats() {
  // Named as the filter's OutputFormat names them, at the same positions.
  static const std::vector<PixelFormatInfo> formats = {
      {PixelFormat::Rgb32, OutputFormatNames[0], 32},  {PixelFormat::Rgb24, OutputFormatNames[1], 24},
      {PixelFormat::Rgb565, OutputFormatNames[2], 16}, {PixelFormat::Rgb555, OutputFormatNames[3], 16},
      {PixelFormat::Rgb8, OutputFormatNames[4], 8},
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
