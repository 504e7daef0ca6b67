#include "recorder/raw_writer.h"

#include <cstdio>
#include <cstring>

namespace dorvantel {

namespace {

HRESULT WriteAll(HANDLE stream, const void* data, size_t size) {
  const BYTE* p = static_cast<const BYTE*>(data);
  while (size > 0) {
    DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(stream, p, chunk, &written, nullptr)) return HRESULT_FROM_WIN32(::GetLastError());
    if (written == 0) return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    p += written;
    size -= written;
  }
  return S_OK;
}

}  // namespace

const char* RawFrameWriter::pixelFormat() const noexcept {
  switch (format_.pixels) {
    case PixelFormat::Rgb32: return "bgr0";
    case PixelFormat::Rgb565: return "rgb565le";
    case PixelFormat::Rgb555: return "rgb555le";
    case PixelFormat::I420: return "yuv420p";
    case PixelFormat::Nv12: return "nv12";
    case PixelFormat::Yuy2: return "yuyv422";
    case PixelFormat::Rgb24:
    case PixelFormat::Rgb8: break;
  }
  return "bgr24";
}

DWORD RawFrameWriter::frameBytes() const noexcept {
  if (format_.yuv()) return format_.imageSize;
  DWORD row = format_.pixels == PixelFormat::Rgb8 ? format_.width * 3u : format_.PackedRowBytes();
  return row * static_cast<DWORD>(format_.height);
}

std::string RawFrameWriter::HeaderLine() const {
  char line[160];
  std::snprintf(line, sizeof(line), "DORVANTEL-RAW width=%d height=%d pix_fmt=%s rate=%d frame_bytes=%lu\n",
                format_.width, format_.height, pixelFormat(), frameRate_, static_cast<unsigned long>(frameBytes()));
  return line;
}

HRESULT RawFrameWriter::Open(HANDLE stream, const FrameFormat& format, int frameRate) {
  if (!stream || stream == INVALID_HANDLE_VALUE) return E_HANDLE;
  if (format.pixels == PixelFormat::Rgb8 && format.palette.size() != 256) return E_INVALIDARG;
  stream_ = stream;
  format_ = format;
  frameRate_ = frameRate;
  converted_.assign(frameBytes(), 0);
  std::string header = HeaderLine();
  return WriteAll(stream_, header.data(), header.size());
}

void RawFrameWriter::Convert(const BYTE* frame, BYTE* out) const {
  if (format_.yuv()) {  // already top-down and packed
    std::memcpy(out, frame, format_.imageSize);
    return;
  }
  const DWORD packed = format_.PackedRowBytes();
  for (int row = 0; row < format_.height; ++row) {
    const BYTE* source = frame + static_cast<size_t>(format_.height - 1 - row) * format_.stride;
    if (format_.pixels != PixelFormat::Rgb8) {
      std::memcpy(out, source, packed);
      out += packed;
      continue;
    }
    for (int x = 0; x < format_.width; ++x) {
      const RGBQUAD& colour = format_.palette[source[x]];
      *out++ = colour.rgbBlue;
      *out++ = colour.rgbGreen;
      *out++ = colour.rgbRed;
    }
  }
}

HRESULT RawFrameWriter::WriteFrame(const void* frame) {
  if (!stream_) return E_UNEXPECTED;
  if (!frame) return E_POINTER;
  Convert(static_cast<const BYTE*>(frame), converted_.data());
  return WriteAll(stream_, converted_.data(), converted_.size());
}

}  // namespace dorvantel
