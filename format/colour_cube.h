#pragma once
// The colours of the 8-bit format: a 3-3-2 colour cube. An index holds red in its top three
// bits, green in the next three and blue in the lowest two, and the format's colour table
// lists exactly those colours, spread evenly from 0 to 255 on each channel. So a host that
// reads the indices as 3-3-2 RGB without the table (ffmpeg) and one that looks them up in the
// table see the same picture.

#include <windows.h>

#include <array>
#include <cstddef>

namespace colour_cube_detail {

// The level of a channel of bits bits nearest to value, rounded.
constexpr unsigned NearestLevel(unsigned value, unsigned bits) {
  const unsigned top = (1u << bits) - 1;
  return (value * top + 127) / 255;
}

// For each 8-bit channel value, its level shifted into the index.
constexpr std::array<BYTE, 256> IndexBits(unsigned bits, unsigned shift) {
  std::array<BYTE, 256> table{};
  for (unsigned value = 0; value < 256; ++value) table[value] = static_cast<BYTE>(NearestLevel(value, bits) << shift);
  return table;
}

inline constexpr std::array<BYTE, 256> kRedBits = IndexBits(3, 5);
inline constexpr std::array<BYTE, 256> kGreenBits = IndexBits(3, 2);
inline constexpr std::array<BYTE, 256> kBlueBits = IndexBits(2, 0);

}  // namespace colour_cube_detail

// The 8-bit channel value of level of a channel of bits bits.
constexpr BYTE ColourCubeLevel(unsigned level, unsigned bits) {
  const unsigned top = (1u << bits) - 1;
  return static_cast<BYTE>((level * 255 + top / 2) / top);
}

// The index whose colour is nearest to the colour, channel by channel.
constexpr BYTE ColourCubeIndex(BYTE red, BYTE green, BYTE blue) {
  return static_cast<BYTE>(colour_cube_detail::kRedBits[red] | colour_cube_detail::kGreenBits[green] |
                           colour_cube_detail::kBlueBits[blue]);
}

// The colour of an index, as the colour table lists it.
constexpr RGBQUAD ColourCubeColour(BYTE index) {
  return RGBQUAD{ColourCubeLevel(index & 3u, 2), ColourCubeLevel((index >> 2) & 7u, 3), ColourCubeLevel(index >> 5, 3),
                 0};
}

// The format's colour table: 256 entries, entry i the colour of index i.
void WriteColourCube(RGBQUAD* colours) noexcept;

// Indices of count pixels of 32-bit blue-green-red-unused bytes.
void ConvertToColourCube(const BYTE* pixels, size_t count, BYTE* indices) noexcept;
