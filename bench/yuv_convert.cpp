#include "bench/yuv_convert.h"

#include <cstdio>
#include <vector>

#include "bench/layouts.h"
#include "capture/desktop_capture.h"

namespace dorvantel {

namespace {

const YuvLayout kYuvLayouts[] = {YuvLayout::I420, YuvLayout::Nv12, YuvLayout::Yuy2};
const YuvPath kYuvPaths[] = {YuvPath::Reference, YuvPath::Sse2, YuvPath::Avx2};

const char* PathName(YuvPath path) {
  switch (path) {
    case YuvPath::Avx2: return "avx2";
    case YuvPath::Sse2: return "sse2";
    default: return "reference";
  }
}

}  // namespace

const YuvLayout* FindYuvLayout(const std::string& name) {
  if (name == "i420") return &kYuvLayouts[0];
  if (name == "nv12") return &kYuvLayouts[1];
  if (name == "yuy2") return &kYuvLayouts[2];
  return nullptr;
}

const YuvPath* FindYuvPath(const std::string& name, bool* fastest) {
  *fastest = name == "fast";
  if (name == "reference") return &kYuvPaths[0];
  if (name == "sse2") return &kYuvPaths[1];
  if (name == "avx2") return &kYuvPaths[2];
  if (name == "fast") return FastestYuvPath() == YuvPath::Avx2 ? &kYuvPaths[2] : &kYuvPaths[1];
  return nullptr;
}

CaseResult RunYuvConversion(const std::string& name, YuvLayout layout, YuvPath path, const LoopTiming& timing,
                            const ServerClock& server, const std::wstring& rawOut) {
  DesktopCapture capture;
  const FrameSize size = capture.FrameSize();
  // The filter's own 32-bit frame: bottom-up, as a BI_RGB bitmap of positive height.
  LayoutBuffer frame(*FindLayout("rgb32"), size.width, size.height);
  CaseResult result;
  result.name = name;
  result.width = size.width;
  result.height = size.height;
  if (capture.Grab(frame.Pixels(), frame.PixelBytes(), frame.Info(), frame.InfoBytes()) != S_OK) {
    result.note = "grab-failed";
    return result;
  }
  const ptrdiff_t stride = static_cast<ptrdiff_t>(size.width) * 4;
  const BYTE* top = frame.Pixels() + (size.height - 1) * stride;
  if (!rawOut.empty()) {
    FILE* file = _wfopen(rawOut.c_str(), L"wb");
    bool written = file != nullptr;
    for (LONG y = 0; written && y < size.height; ++y) {
      written = std::fwrite(top - y * stride, 1, static_cast<size_t>(stride), file) == static_cast<size_t>(stride);
    }
    if (file) std::fclose(file);
    if (!written) {
      result.note = "raw-out-failed";
      return result;
    }
  }
  std::vector<BYTE> output(static_cast<size_t>(YuvImageSize(layout, size.width, size.height)));
  result = RunTimedLoop(name, timing, server, [&] {
    return ConvertToYuvWith(path, layout, top, -stride, size.width, size.height, output.data(), output.size());
  });
  result.width = size.width;
  result.height = size.height;
  result.meanByte = SampledMean(output.data(), output.size());
  if (result.note.empty()) result.note = PathName(path);
  return result;
}

}  // namespace dorvantel
