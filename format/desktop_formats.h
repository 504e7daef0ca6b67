#pragma once
// The desktop pin's formats: the uncompressed RGB types it offers at a frame size, the
// rules by which it accepts a proposed type, and its buffer request. The pin calls
// these from its overrides and holds its lock around them where the connection type is read.

#include <windows.h>
#include <dshow.h>

#include "format/frame_size.h"
#include "format/media_type.h"
#include "format/yuv_frames.h"

// The formats, each at its position. Positions 0 to 4 are the pin's own list, what its media
// type enumerator offers: RGB32, RGB24, RGB565 and RGB555 (both BI_BITFIELDS with their masks)
// and RGB8 (a 3-3-2 colour cube with its colour table, see colour_cube.h). After them come
// RGB555 described with BI_RGB (the platform's own 5-5-5, which OutputFormat's rgb555 names and
// ffmpeg reads right), then I420, NV12 and YUY2 (BT.601 limited range, laid out without row
// padding as yuv_frames.h says). Those four are offered through IAMStreamConfig and accepted by
// the connection; the enumerator offers a format beyond the five once it is chosen.
constexpr int kDesktopFormatCount = 9;
// The pin's own list.
constexpr int kPinFormatCount = 5;
// The two descriptions of 5-5-5.
constexpr int kMaskedRgb555Position = 3;
constexpr int kPlainRgb555Position = 5;
// The YUV formats.
constexpr int kI420Position = 6;
constexpr int kNv12Position = 7;
constexpr int kYuy2Position = 8;

// The first position of a format with this subtype (MEDIASUBTYPE_IYUV: I420's), or -1 for none.
int DesktopFormatPosition(const GUID& subtype);
// The position of the format with this subtype and compression: RGB555 with BI_BITFIELDS is
// the masked description, with anything else the plain one.
int DesktopFormatPosition(const GUID& subtype, DWORD compression);
// Bits per pixel of the format at position, 0 for none.
WORD DesktopFormatBitCount(int position);
// The subtype of the format at position (GUID_NULL for none).
const GUID& DesktopFormatSubtype(int position);
// True for the YUV formats' positions.
bool IsYuvPosition(int position);
// The other description of the same format when a position's format has two (5-5-5:
// positions 3 and 5), else -1.
int OtherDescription(int position);
// The name of the format at position, of OutputFormatNames; null for none.
const wchar_t* DesktopFormatName(int position);
// The position of the format OutputFormatNames[index] names, -1 for none.
int NamedFormatPosition(int index);
// Bytes of one frame of header's format: a YUV layout's (by its FOURCC), else ImageSize's.
DWORD DesktopImageSize(const BITMAPINFOHEADER& header);
// True when header describes one of the YUV layouts (by its FOURCC and bit count; IYUV is
// I420's), which it then names in *layout.
bool DescribesYuv(const BITMAPINFOHEADER& header, YuvLayout* layout);

// Fills type with the format at position. VFW_S_NO_MORE_ITEMS past the last position and
// E_INVALIDARG below 0 leave it untouched; E_OUTOFMEMORY when no format block is obtained.
HRESULT DesktopMediaTypeAt(FrameSize size, int position, MediaType* type);

// S_OK for a video type of one of the formats at the frame size with bottom-up rows (for YUV,
// a positive height, which is top-down by the convention of those formats) and, for a YUV
// subtype, a header of that layout (its FOURCC, I420 and IYUV alike, and its bit count); else
// E_INVALIDARG (E_POINTER for null). A format block shorter than a VIDEOINFOHEADER is refused.
HRESULT VerifyDesktopMediaType(FrameSize size, const AM_MEDIA_TYPE* type);

// Checks a connection type just copied from an agreed type: E_UNEXPECTED without a format
// block, E_INVALIDARG unless the header is 8, 16, 24 or 32 bits with room for its colour area,
// or one of the YUV layouts (its FOURCC and bit count).
// An 8-bit connection takes the colour cube as its colour table, the colours its frames have
// whatever table the agreed type carried.
HRESULT ApplyDesktopMediaType(AM_MEDIA_TYPE* connection);

// Asks the allocator for two buffers that each hold a whole image of the connection format
// (one for the worker, one for a filter downstream that copies into the same allocator), and
// checks what it granted: E_FAIL when a buffer is smaller than that image.
HRESULT SizeDesktopBuffers(const AM_MEDIA_TYPE& connection, IMemAllocator* allocator,
                           ALLOCATOR_PROPERTIES* request);
