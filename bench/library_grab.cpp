#include "bench/library_grab.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "capture/desktop_capture.h"
#include "capture/frame_scaler.h"
#include "base/gdi_resources.h"
#include "format/colour_cube.h"
#include "module/dorvantel.h"

namespace dorvantel {

using namespace Gdiplus::DllExports;

CaseResult RunLibraryGrab(const std::string& name, const GrabOptions& options, const LoopTiming& timing,
                          const ServerClock& server) {
  DesktopCapture capture;
  {
    SectionLockHolder hold(&capture.CaptureLock());
    capture.Settings().IncludeCursor = options.cursor;
    capture.Settings().OutputSize = options.output;
    capture.Settings().InterpolationMode = options.interpolation;
    capture.SwitchCaptureArea(options.area);
    capture.SelectMonitor(options.monitor);
  }
  const FrameSize size = capture.FrameSize();
  LayoutBuffer frame(*options.layout, size.width, size.height);
  CaseResult result = RunTimedLoop(name, timing, server, [&] {
    capture.Grab(frame.Pixels(), frame.PixelBytes(), frame.Info(), frame.InfoBytes());
    return true;
  });
  result.width = size.width;
  result.height = size.height;
  result.meanByte = SampledMean(frame.Pixels(), frame.PixelBytes());
  return result;
}

namespace {

enum Step { kCreate, kClear, kBlit, kCursor, kScale, kSection, kConvert, kDelete, kStepCount };
const char* const kStepNames[kStepCount] = {"create", "clear",   "blit",    "cursor",
                                            "scale",  "section", "convert", "delete"};

// Adds the time since the last mark to a step.
class StepClock {
 public:
  StepClock() { ::QueryPerformanceFrequency(&frequency_); }
  void Start() { ::QueryPerformanceCounter(&last_); }
  void Mark(Step step) {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    totals_[step] += static_cast<double>(now.QuadPart - last_.QuadPart) / static_cast<double>(frequency_.QuadPart);
    last_ = now;
  }
  double Milliseconds(int step, unsigned long long frames) const { return 1000.0 * totals_[step] / frames; }

 private:
  LARGE_INTEGER frequency_, last_ = {};
  double totals_[kStepCount] = {};
};

void DrawCursorAt(HDC memory) {
  CURSORINFO cursor = {};
  cursor.cbSize = sizeof(cursor);
  if (!::GetCursorInfo(&cursor)) return;
  ICONINFO icon = {};
  if (!::GetIconInfo(cursor.hCursor, &icon)) return;
  BitmapHandle colour(icon.hbmColor), mask(icon.hbmMask);
  ::DrawIconEx(memory, cursor.ptScreenPos.x - static_cast<LONG>(icon.xHotspot),
               cursor.ptScreenPos.y - static_cast<LONG>(icon.yHotspot), cursor.hCursor, ::GetSystemMetrics(SM_CXCURSOR),
               ::GetSystemMetrics(SM_CYCURSOR), 0, nullptr, DI_NORMAL);
}

// A 32-bit top-down DIB section of size, and its pixels in *bits.
BitmapHandle BgrxSection(HDC dc, FrameSize size, BYTE** bits) {
  BITMAPINFO layout = {};
  layout.bmiHeader = {sizeof(BITMAPINFOHEADER), size.width, -size.height, 1, 32, BI_RGB};
  void* pixels = nullptr;
  BitmapHandle section(::CreateDIBSection(dc, &layout, DIB_RGB_COLORS, &pixels, nullptr, 0));
  *bits = static_cast<BYTE*>(pixels);
  return section;
}

BitmapHandle Scale(HBITMAP grabbed, FrameSize size, LONG interpolation) {
  GdiplusBitmap source, scaled;
  GdipCreateBitmapFromHBITMAP(grabbed, nullptr, source.put());
  Gdiplus::PixelFormat format = 0;
  GdipGetImagePixelFormat(source.get(), &format);
  GdipCreateBitmapFromScan0(size.width, size.height, 0, format, nullptr, scaled.put());
  {
    GdiplusGraphics graphics;
    GdipGetImageGraphicsContext(scaled.get(), graphics.put());
    GdipSetInterpolationMode(graphics.get(), static_cast<Gdiplus::InterpolationMode>(interpolation));
    GdipDrawImageRectI(graphics.get(), source.get(), 0, 0, size.width, size.height);
  }
  BitmapHandle result;
  GdipCreateHBITMAPFromBitmap(scaled.get(), result.put(), 0x00FFFFFF);
  return result;
}

}  // namespace

void ProfileGrabSteps(const std::string& name, const GrabOptions& options, const LoopTiming& timing) {
  GdiplusSession session = StartGdiplusSession();
  CreatedDC display(::CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr));
  MemoryDC memory(::CreateCompatibleDC(display.get()));
  const LONG width = ::GetDeviceCaps(display.get(), HORZRES), height = ::GetDeviceCaps(display.get(), VERTRES);
  const FrameSize size = options.output ? *options.output : FrameSize{width, height};
  LayoutBuffer frame(*options.layout, size.width, size.height);
  const bool masked = options.layout->bitCount == 16 && options.layout->compression == BI_BITFIELDS;
  // 8 bits: the colour cube from 32-bit lines, a band of lines at a time.
  const bool cube = options.layout->bitCount == 8;
  const LONG bandLines = std::max<LONG>(1, 256 * 1024 / (size.width * 4));
  std::vector<BYTE> band(cube ? static_cast<size_t>(bandLines) * size.width * 4 : 0);
  const size_t cubeStride = (static_cast<size_t>(size.width) + 3) & ~static_cast<size_t>(3);
  // The filter's own scaler reads a 32-bit section canvas in place and writes 32-bit frames
  // straight into the frame (nothing left to convert); other layouts through a scaled section.
  const bool fast = options.output && options.interpolation == kInterpolationFast;
  const bool direct = fast && options.layout->bitCount == 32;
  FrameScaler scaler;
  BYTE* canvasBits = nullptr;
  BYTE* scaledBits = nullptr;
  BitmapHandle scaledSection;

  // As the library grabs: the canvas and the 16-bit section are made by the first frame and
  // kept; the canvas is cleared only where the copy would not cover it (clear: the test of
  // that); a scaled bitmap is made and deleted per frame.
  StepClock clock;
  unsigned long long frames = 0, failedBlits = 0;
  BitmapHandle canvas, section;
  MemoryDC sectionDC;
  RunTimedLoop(name, timing, ServerClock(0), [&] {
    clock.Start();
    if (!canvas) {
      canvas = fast ? BgrxSection(display.get(), FrameSize{width, height}, &canvasBits)
                    : BitmapHandle(::CreateCompatibleBitmap(display.get(), width, height));
    }
    clock.Mark(kCreate);
    BitmapHandle scaled;
    {
      SelectedObject selected(memory.get(), canvas.get());
      // The whole display lies inside the display's visible area: the grab asks and, told so,
      // does not clear.
      RECT visible = {};
      if (::GetClipBox(display.get(), &visible) != SIMPLEREGION || visible.right < width || visible.bottom < height) {
        ::PatBlt(memory.get(), 0, 0, width, height, BLACKNESS);
      }
      clock.Mark(kClear);
      if (!::BitBlt(memory.get(), 0, 0, width, height, display.get(), 0, 0, SRCCOPY)) ++failedBlits;
      clock.Mark(kBlit);
      if (options.cursor) DrawCursorAt(memory.get());
      clock.Mark(kCursor);
    }
    HBITMAP frameBitmap = canvas.get();
    if (fast) {
      ::GdiFlush();
      scaler.Prepare(FrameSize{width, height}, size);
      const ptrdiff_t stride = static_cast<ptrdiff_t>(size.width) * 4;
      if (direct) {
        scaler.Scale(canvasBits, width * 4, frame.Pixels() + (size.height - 1) * stride, -stride, 0, size.height);
      } else {
        if (!scaledSection) scaledSection = BgrxSection(display.get(), size, &scaledBits);
        scaler.Scale(canvasBits, width * 4, scaledBits, stride, 0, size.height);
        frameBitmap = scaledSection.get();
      }
    } else if (options.output) {
      scaled = Scale(canvas.get(), *options.output, options.interpolation);
      frameBitmap = scaled.get();
    }
    clock.Mark(kScale);
    if (masked) {
      if (!section) {
        void* bits = nullptr;
        section.reset(::CreateDIBSection(display.get(), frame.Info(), DIB_RGB_COLORS, &bits, nullptr, 0));
        sectionDC.reset(::CreateCompatibleDC(display.get()));
      }
      SelectedObject selectedSection(sectionDC.get(), section.get());
      SelectedObject selectedBitmap(memory.get(), frameBitmap);
      ::BitBlt(sectionDC.get(), 0, 0, size.width, size.height, memory.get(), 0, 0, SRCCOPY);
      frameBitmap = section.get();
    }
    clock.Mark(kSection);
    if (cube) {
      BITMAPINFOHEADER wide = {sizeof(BITMAPINFOHEADER), size.width, size.height, 1, 32, BI_RGB};
      for (LONG first = 0; first < size.height; first += bandLines) {
        const LONG lines = std::min(bandLines, size.height - first);
        ::GetDIBits(display.get(), frameBitmap, first, lines, band.data(), reinterpret_cast<BITMAPINFO*>(&wide),
                    DIB_RGB_COLORS);
        for (LONG line = 0; line < lines; ++line) {
          ConvertToColourCube(band.data() + static_cast<size_t>(line) * size.width * 4, size.width,
                              frame.Pixels() + (first + line) * cubeStride);
        }
      }
    } else if (!direct) {
      ::GetDIBits(display.get(), frameBitmap, 0, size.height, frame.Pixels(), frame.Info(), DIB_RGB_COLORS);
    }
    clock.Mark(kConvert);
    scaled.reset();
    clock.Mark(kDelete);
    ++frames;
    return true;
  });
  std::printf("profile=%s frames=%llu", name.c_str(), frames);
  double total = 0;
  for (int step = 0; step < kStepCount; ++step) {
    std::printf(" %s_ms=%.3f", kStepNames[step], clock.Milliseconds(step, frames));
    total += clock.Milliseconds(step, frames);
  }
  std::printf(" total_ms=%.3f failed_blits=%llu mean_byte=%.1f\n", total, failedBlits,
              SampledMean(frame.Pixels(), frame.PixelBytes()));
  std::fflush(stdout);
}

}  // namespace dorvantel
