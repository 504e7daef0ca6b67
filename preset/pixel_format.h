#pragma once
// The five pixel formats the desktop source offers, in the source's order of preference,
// named as its OutputFormat names them.

#include <string>
#include <vector>

namespace dorvantel {

enum class PixelFormat { Rgb32, Rgb24, Rgb565, Rgb555, Rgb8 };

struct PixelFormatInfo {
  PixelFormat format;
  const wchar_t* name;  // the filter's OutputFormat name, as the options and presets spell it
  int bits;
};

// The five formats in the source's order; a format's index is its position on the pin.
const std::vector<PixelFormatInfo>& PixelFormats();
const PixelFormatInfo* FindPixelFormat(const std::wstring& name);
const PixelFormatInfo& DescribePixelFormat(PixelFormat format);

}  // namespace dorvantel
