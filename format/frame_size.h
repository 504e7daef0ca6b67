#pragma once
// Width and height of one video frame in pixels.

#include <windows.h>

struct FrameSize {
  LONG width;
  LONG height;
};
