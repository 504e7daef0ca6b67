#pragma once
// The desktop pin's formats: the five uncompressed RGB types it offers at a frame size, the
// rules by which it accepts a proposed type, and its one-frame buffer request. The pin calls
// these from its overrides and holds its lock around them where the connection type is read.

#include <windows.h>
#include <dshow.h>

#include "format/frame_size.h"
#include "format/media_type.h"

// Number of offered formats: RGB32, RGB24, RGB565, RGB555, RGB8 at positions 0 to 4.
constexpr int kDesktopFormatCount = 5;

// Fills type with the format at position. VFW_S_NO_MORE_ITEMS past the last position and
// E_INVALIDARG below 0 leave it untouched; E_OUTOFMEMORY when no format block is obtained.
HRESULT DesktopMediaTypeAt(FrameSize size, int position, MediaType* type);

// S_OK for an uncompressed RGB video type of the frame size with bottom-up rows, else
// E_INVALIDARG (E_POINTER for null). A format block shorter than a VIDEOINFOHEADER is refused.
HRESULT VerifyDesktopMediaType(FrameSize size, const AM_MEDIA_TYPE* type);

// Checks a connection type just copied from an agreed type: E_UNEXPECTED without a format
// block, E_INVALIDARG unless the header is 8, 16, 24 or 32 bits with room for its colour area.
HRESULT ApplyDesktopMediaType(const AM_MEDIA_TYPE& connection);

// Asks the allocator for one buffer that holds a whole image of the connection format, and
// checks what it granted: E_FAIL when a buffer is smaller than that image.
HRESULT SizeDesktopBuffers(const AM_MEDIA_TYPE& connection, IMemAllocator* allocator,
                           ALLOCATOR_PROPERTIES* request);
