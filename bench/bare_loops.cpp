#include "bench/bare_loops.h"

#include <optional>

#include "base/gdi_resources.h"

namespace dorvantel {

using namespace Gdiplus::DllExports;

namespace {

// The display's device context and a memory device context compatible with it.
struct DisplayContexts {
  DisplayContexts()
      : display(::CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr)), memory(::CreateCompatibleDC(display.get())) {}
  LONG Width() const { return ::GetDeviceCaps(display.get(), HORZRES); }
  LONG Height() const { return ::GetDeviceCaps(display.get(), VERTRES); }

  CreatedDC display;
  MemoryDC memory;
};

// A compatible bitmap holding the whole display.
BitmapHandle GrabDisplay(const DisplayContexts& dcs, LONG width, LONG height) {
  BitmapHandle bitmap(::CreateCompatibleBitmap(dcs.display.get(), width, height));
  if (!bitmap) return {};
  SelectedObject selected(dcs.memory.get(), bitmap.get());
  ::BitBlt(dcs.memory.get(), 0, 0, width, height, dcs.display.get(), 0, 0, SRCCOPY);
  return bitmap;
}

// The bare GDI+ scaling of a grabbed bitmap to output, as the grab scales: a GDI+ bitmap of
// the grab, a target of output's size in its pixel format, DrawImageRectI with the
// interpolation mode, and an HBITMAP of the target.
BitmapHandle ScaleWithGdiplus(HBITMAP grabbed, FrameSize output, LONG interpolation) {
  GdiplusBitmap source;
  if (GdipCreateBitmapFromHBITMAP(grabbed, nullptr, source.put()) != Gdiplus::Ok) return {};
  Gdiplus::PixelFormat format = 0;
  GdipGetImagePixelFormat(source.get(), &format);
  GdiplusBitmap target;
  if (GdipCreateBitmapFromScan0(output.width, output.height, 0, format, nullptr, target.put()) != Gdiplus::Ok) {
    return {};
  }
  GdiplusGraphics graphics;
  if (GdipGetImageGraphicsContext(target.get(), graphics.put()) != Gdiplus::Ok) return {};
  GdipSetInterpolationMode(graphics.get(), static_cast<Gdiplus::InterpolationMode>(interpolation));
  GdipDrawImageRectI(graphics.get(), source.get(), 0, 0, output.width, output.height);
  graphics.reset();
  BitmapHandle scaled;
  if (GdipCreateHBITMAPFromBitmap(target.get(), scaled.put(), 0x00FFFFFF) != Gdiplus::Ok) return {};
  return scaled;
}

// The design's ceiling: one compatible bitmap made before the loop and kept, the whole
// display copied into it each frame, then converted; for the 16-bit layouts with colour
// masks through a kept DIB section of the layout first, since Wine's GetDIBits writes black
// pixels straight from a compatible bitmap into them. With an output size, GDI+ scales the
// kept bitmap each frame before the conversion. The loop runs on a thread of its own.
CaseResult RunKeptLoop(const std::string& name, const Layout& layout, const std::optional<FrameSize>& output,
                       LONG interpolation, LoopTiming timing, const ServerClock& server) {
  GdiplusSession session;
  if (output) session = StartGdiplusSession();
  DisplayContexts dcs;
  const LONG width = dcs.Width(), height = dcs.Height();
  const FrameSize size = output ? *output : FrameSize{width, height};
  LayoutBuffer frame(layout, size.width, size.height);
  BitmapHandle canvas(::CreateCompatibleBitmap(dcs.display.get(), width, height));
  BitmapHandle section;
  MemoryDC sectionDC;
  if (layout.compression == BI_BITFIELDS && layout.bitCount == 16) {
    void* bits = nullptr;
    section.reset(::CreateDIBSection(dcs.display.get(), frame.Info(), DIB_RGB_COLORS, &bits, nullptr, 0));
    sectionDC.reset(::CreateCompatibleDC(dcs.display.get()));
    if (!section || !sectionDC) canvas.reset();
  }
  timing.onWorkerThread = true;
  CaseResult result = RunTimedLoop(name, timing, server, [&] {
    if (!canvas) return false;
    {
      SelectedObject selected(dcs.memory.get(), canvas.get());
      if (!::BitBlt(dcs.memory.get(), 0, 0, width, height, dcs.display.get(), 0, 0, SRCCOPY)) return false;
    }
    BitmapHandle scaled;
    HBITMAP converted = canvas.get();
    if (output) {
      scaled = ScaleWithGdiplus(canvas.get(), *output, interpolation);
      if (!scaled) return false;
      converted = scaled.get();
    }
    if (section) {
      SelectedObject selectedSection(sectionDC.get(), section.get());
      SelectedObject selectedBitmap(dcs.memory.get(), converted);
      ::BitBlt(sectionDC.get(), 0, 0, size.width, size.height, dcs.memory.get(), 0, 0, SRCCOPY);
      converted = section.get();
    }
    return ::GetDIBits(dcs.display.get(), converted, 0, size.height, frame.Pixels(), frame.Info(), DIB_RGB_COLORS) ==
           size.height;
  });
  result.width = size.width;
  result.height = size.height;
  result.meanByte = SampledMean(frame.Pixels(), frame.PixelBytes());
  return result;
}

}  // namespace

CaseResult RunDesignCeiling(const std::string& name, const Layout& layout, const LoopTiming& timing,
                            const ServerClock& server) {
  return RunKeptLoop(name, layout, std::nullopt, 0, timing, server);
}

CaseResult RunScalingCeiling(const std::string& name, FrameSize output, LONG interpolation, const LoopTiming& timing,
                             const ServerClock& server) {
  return RunKeptLoop(name, *FindLayout("rgb32"), output, interpolation, timing, server);
}

CaseResult RunBareGdi(const std::string& name, const Layout& layout, const LoopTiming& timing,
                      const ServerClock& server) {
  DisplayContexts dcs;
  const LONG width = dcs.Width(), height = dcs.Height();
  LayoutBuffer frame(layout, width, height);
  CaseResult result = RunTimedLoop(name, timing, server, [&] {
    BitmapHandle bitmap = GrabDisplay(dcs, width, height);
    if (!bitmap) return false;
    return ::GetDIBits(dcs.display.get(), bitmap.get(), 0, height, frame.Pixels(), frame.Info(), DIB_RGB_COLORS) ==
           height;
  });
  result.width = width;
  result.height = height;
  result.meanByte = SampledMean(frame.Pixels(), frame.PixelBytes());
  return result;
}

CaseResult RunBareGdiplus(const std::string& name, FrameSize output, LONG interpolation, const LoopTiming& timing,
                          const ServerClock& server) {
  GdiplusSession session = StartGdiplusSession();
  DisplayContexts dcs;
  const LONG width = dcs.Width(), height = dcs.Height();
  LayoutBuffer frame(*FindLayout("rgb32"), output.width, output.height);
  CaseResult result = RunTimedLoop(name, timing, server, [&] {
    BitmapHandle scaled;
    {
      BitmapHandle grabbed = GrabDisplay(dcs, width, height);
      if (!grabbed) return false;
      scaled = ScaleWithGdiplus(grabbed.get(), output, interpolation);
      if (!scaled) return false;
    }
    return ::GetDIBits(dcs.display.get(), scaled.get(), 0, output.height, frame.Pixels(), frame.Info(),
                       DIB_RGB_COLORS) == output.height;
  });
  result.width = output.width;
  result.height = output.height;
  result.meanByte = SampledMean(frame.Pixels(), frame.PixelBytes());
  return result;
}

}  // namespace dorvantel
