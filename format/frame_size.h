#pragma once

#include <windows.h>

// The width and height of the frames a pin delivers, in pixels.
struct FrameSize {
  LONG width;
  LONG height;
};
