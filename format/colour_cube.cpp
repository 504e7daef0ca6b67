#include "format/colour_cube.h"

void WriteColourCube(RGBQUAD* colours) noexcept {
  for (unsigned index = 0; index < 256; ++index) colours[index] = ColourCubeColour(static_cast<BYTE>(index));
}

void ConvertToColourCube(const BYTE* pixels, size_t count, BYTE* indices) noexcept {
  for (size_t i = 0; i < count; ++i, pixels += 4) indices[i] = ColourCubeIndex(pixels[2], pixels[1], pixels[0]);
}
