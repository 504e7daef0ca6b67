#pragma once
// What the desktop pin tells hosts through IAMStreamConfig: its capability entries (a media
// type and a VIDEO_STREAM_CONFIG_CAPS each) and the check of a type a host asks for.
//
// Entries 0 to 8 are the formats at the current frame size: RGB32, RGB24, RGB555 described
// with BI_RGB, RGB555 with BI_BITFIELDS, RGB565, RGB8, then I420, NV12 and YUY2. Hosts that know
// 16 bits only as 5-5-5 (ffmpeg) take the first 16-bit entry, the one they read right; each says
// the scaler makes any size from kMinOutputSide to kMaxOutputSide on either side. After them
// come RGB32 and RGB24 at common sizes smaller than the captured area, one size each, for hosts
// that list discrete sizes.

#include <windows.h>
#include <dshow.h>

#include "format/frame_size.h"
#include "format/media_type.h"
#include "module/dorvantel.h"

constexpr LONG kMinOutputSide = SourceLimits::kMinOutputSide;
constexpr LONG kMaxOutputSide = SourceLimits::kMaxOutputSide;
// The offered rates as frame intervals, in 100-ns units.
constexpr REFERENCE_TIME kMinFrameInterval = 10000000 / SourceLimits::kMaxFrameRate;
constexpr REFERENCE_TIME kMaxFrameInterval = 10000000 / SourceLimits::kMinFrameRate;

// The sizes the entries are built around: what the frames have now, and what is captured.
struct StreamCapsSizes {
  FrameSize output;
  FrameSize input;
};

int StreamCapsCount(const StreamCapsSizes& sizes) noexcept;

// Fills type and caps for the entry at index with frames every interval (brought into the
// accepted range). E_INVALIDARG below 0, S_FALSE past the last entry (both leave the two
// untouched), E_OUTOFMEMORY without a format block.
HRESULT StreamCapsAt(const StreamCapsSizes& sizes, REFERENCE_TIME interval, int index, MediaType* type,
                     VIDEO_STREAM_CONFIG_CAPS* caps) noexcept;

// What a host's type asks for.
struct RequestedFormat {
  int position;            // of the offered type (DesktopFormatPosition)
  FrameSize size;          // bottom-up rows, within the output sides
  REFERENCE_TIME interval; // 0: keep the current frame rate
};

// Reads a type a host passes to SetFormat: video, FORMAT_VideoInfo with a whole header, one of
// the offered subtypes, a size and an interval within the ranges the entries state; for RGB555
// the compression tells its two descriptions apart. Only those fields count: the subtype
// decides the format, whatever bit count and compression the header was left with, and every
// size is the filter's to compute. VFW_E_INVALIDMEDIATYPE for anything else.
HRESULT ReadRequestedFormat(const AM_MEDIA_TYPE& type, RequestedFormat* requested) noexcept;
