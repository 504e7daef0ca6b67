#pragma once
// The pixel formats the desktop source offers, in the source's order of preference, named as
// its OutputFormat names them: five RGB formats, then three YUV ones.

#include <string>
#include <vector>

namespace dorvantel {

enum class PixelFormat { Rgb32, Rgb24, Rgb565, Rgb555, Rgb8, I420, Nv12, Yuy2 };

struct PixelFormatInfo {
  PixelFormat format;
  const wchar_t* name;  // the filter's OutputFormat name, as the options and presets spell it
  int bits;  // per pixel: 12 for the 4:2:0 formats
  bool yuv;
};

// The formats in the source's order, each at its index in OutputFormatNames.
const std::vector<PixelFormatInfo>& PixelFormats();
const PixelFormatInfo* FindPixelFormat(const std::wstring& name);
const PixelFormatInfo& DescribePixelFormat(PixelFormat format);

}  // namespace dorvantel
