#pragma once
// The desktop pin's formats: the uncompressed RGB types it offers at a frame size, the
// rules by which it accepts a proposed type, and its buffer request. The pin calls
// these from its overrides and holds its lock around them where the connection type is read.

#include <windows.h>
#include <dshow.h>

#include "format/frame_size.h"
#include "format/media_type.h"

// Number of offered types. Positions 0 to 4 are the five formats that OutputFormatNames
// names, in its order: RGB32, RGB24, RGB565 (BI_BITFIELDS), RGB555 (BI_RGB, the platform's
// own 5-5-5) and RGB8 (a 3-3-2 colour cube with its colour table, see colour_cube.h).
// Position 5 is RGB555 once more, described with BI_BITFIELDS and its masks.
constexpr int kDesktopFormatCount = 6;
// The position of 5-5-5 described with its masks.
constexpr int kMaskedRgb555Position = 5;

// The first position of an offered type with this subtype, or -1 for none.
int DesktopFormatPosition(const GUID& subtype);
// The position of the offered type with this subtype and compression: RGB555 with
// BI_BITFIELDS is the masked description, with anything else the plain one.
int DesktopFormatPosition(const GUID& subtype, DWORD compression);
// Bits per pixel of the offered type at position, 0 for none.
WORD DesktopFormatBitCount(int position);
// The subtype of the offered type at position (GUID_NULL for none).
const GUID& DesktopFormatSubtype(int position);
// The other description of the same format when a position's format has two (5-5-5:
// positions 3 and 5), else -1.
int OtherDescription(int position);
// The name of the format at position, of OutputFormatNames; null for none.
const wchar_t* DesktopFormatName(int position);

// Fills type with the format at position. VFW_S_NO_MORE_ITEMS past the last position and
// E_INVALIDARG below 0 leave it untouched; E_OUTOFMEMORY when no format block is obtained.
HRESULT DesktopMediaTypeAt(FrameSize size, int position, MediaType* type);

// S_OK for an uncompressed RGB video type of the frame size with bottom-up rows, else
// E_INVALIDARG (E_POINTER for null). A format block shorter than a VIDEOINFOHEADER is refused.
HRESULT VerifyDesktopMediaType(FrameSize size, const AM_MEDIA_TYPE* type);

// Checks a connection type just copied from an agreed type: E_UNEXPECTED without a format
// block, E_INVALIDARG unless the header is 8, 16, 24 or 32 bits with room for its colour area.
// An 8-bit connection takes the colour cube as its colour table, the colours its frames have
// whatever table the agreed type carried.
HRESULT ApplyDesktopMediaType(AM_MEDIA_TYPE* connection);

// Asks the allocator for two buffers that each hold a whole image of the connection format
// (one for the worker, one for a filter downstream that copies into the same allocator), and
// checks what it granted: E_FAIL when a buffer is smaller than that image.
HRESULT SizeDesktopBuffers(const AM_MEDIA_TYPE& connection, IMemAllocator* allocator,
                           ALLOCATOR_PROPERTIES* request);
