#pragma once
// The Windows 11 camera's media source: what CLSID_DorvantelCamera (base/camera_link.h)
// creates. The class factory hands out a CameraActivate, an IMFActivate over an attribute
// store; its ActivateObject makes a CameraSource with a copy of the store. The source is live,
// with one video stream (NV12, YUY2, RGB32 at its size and rate) whose frames come from the
// preset's frame ring, written by the feed program in the user's session; without frames it
// repeats the last one, and after kNoFrameSeconds shows "Dorvantel is not capturing". Its size
// and rate are the preset's device's (camera/camera_preset.h). Making either object is cheap:
// the ring is opened at the first request.

#include <windows.h>

#include "framework/unknown.h"

namespace camera {

inline constexpr int kNoFrameSeconds = 3;

}  // namespace camera

// The class factory's entry for CLSID_DorvantelCamera.
CUnknown* CreateCameraActivate(IUnknown* outer, HRESULT* result);
