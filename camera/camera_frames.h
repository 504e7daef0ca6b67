#pragma once
// The camera's pictures: a frame of the ring (NV12 of any size) drawn into the stream's type
// and size, and the plain frame that says the feed is not running.

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace camera {

enum class CameraSubtype { Nv12, Yuy2, Rgb32 };

// Bytes of a packed top-down picture: NV12 w*h + 2*ceil(w/2)*ceil(h/2), YUY2 4*ceil(w/2)*h,
// RGB32 4*w*h.
size_t PictureBytes(CameraSubtype subtype, uint32_t width, uint32_t height) noexcept;

// Draws the NV12 picture (sourceWidth x sourceHeight, luma rows sourceStride apart) into a
// packed width x height picture of the subtype, taking the nearest source pixel (BT.601
// limited range to RGB).
void DrawNv12(const BYTE* source, uint32_t sourceWidth, uint32_t sourceHeight, uint32_t sourceStride,
              CameraSubtype subtype, uint32_t width, uint32_t height, BYTE* destination) noexcept;

// The plain frame "Dorvantel is not capturing", white text on dark grey, into a packed picture
// of the subtype; false when GDI fails.
bool DrawNotCapturing(CameraSubtype subtype, uint32_t width, uint32_t height, BYTE* destination) noexcept;

}  // namespace camera
