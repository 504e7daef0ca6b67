#pragma once
// The camera's picture size and rate, from the preset's registered device (the device key the
// register tool writes under HKLM, which the Frame Server's LocalService account may read):
// its OutputDimensions ("WxH") and FrameRate. What the device does not set, or a preset that
// is not registered, gets the defaults; the feed's frames are drawn to the camera's size.

#include <windows.h>

#include <string>

namespace camera {

struct CameraFormat {
  UINT32 width = 1280;
  UINT32 height = 720;
  UINT32 rate = 30;  // frames a second
};

inline constexpr UINT32 kMaxCameraSide = 8192;
inline constexpr UINT32 kMaxCameraRate = 120;

// The format of the registered device of that friendly name (compared ignoring case), else
// the defaults; values out of range (sides 2 to kMaxCameraSide, rates 1 to kMaxCameraRate)
// keep the default.
CameraFormat ReadCameraFormat(const std::wstring& preset);

}  // namespace camera
