#pragma once
// The desktop pin's formats: the five uncompressed RGB types it offers at a frame size, the
// rules by which it accepts a proposed type, and its buffer request. The pin calls
// these from its overrides and holds its lock around them where the connection type is read.

#include <windows.h>
#include <dshow.h>

#include "format/frame_size.h"
#include "format/media_type.h"

// Number of offered formats: RGB32, RGB24, RGB565, RGB555, RGB8 at positions 0 to 4.
constexpr int kDesktopFormatCount = 5;

// The position of the offered format with this subtype, or -1 for none.
int DesktopFormatPosition(const GUID& subtype);
// Bits per pixel of the offered format at position (0 to 4).
WORD DesktopFormatBitCount(int position);

// Fills type with the format at position. VFW_S_NO_MORE_ITEMS past the last position and
// E_INVALIDARG below 0 leave it untouched; E_OUTOFMEMORY when no format block is obtained.
HRESULT DesktopMediaTypeAt(FrameSize size, int position, MediaType* type);

// S_OK for an uncompressed RGB video type of the frame size with bottom-up rows, else
// E_INVALIDARG (E_POINTER for null). A format block shorter than a VIDEOINFOHEADER is refused.
HRESULT VerifyDesktopMediaType(FrameSize size, const AM_MEDIA_TYPE* type);

// Checks a connection type just copied from an agreed type: E_UNEXPECTED without a format
// block, E_INVALIDARG unless the header is 8, 16, 24 or 32 bits with room for its colour area.
HRESULT ApplyDesktopMediaType(const AM_MEDIA_TYPE& connection);

// Asks the allocator for two buffers that each hold a whole image of the connection format
// (one for the worker, one for a filter downstream that copies into the same allocator), and
// checks what it granted: E_FAIL when a buffer is smaller than that image.
HRESULT SizeDesktopBuffers(const AM_MEDIA_TYPE& connection, IMemAllocator* allocator,
                           ALLOCATOR_PROPERTIES* request);
