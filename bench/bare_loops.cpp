#include "bench/bare_loops.h"

#include "capture/gdi_resources.h"

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

}  // namespace

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
      GdiplusBitmap source;
      if (GdipCreateBitmapFromHBITMAP(grabbed.get(), nullptr, source.put()) != Gdiplus::Ok) return false;
      Gdiplus::PixelFormat format = 0;
      GdipGetImagePixelFormat(source.get(), &format);
      GdiplusBitmap target;
      if (GdipCreateBitmapFromScan0(output.width, output.height, 0, format, nullptr, target.put()) != Gdiplus::Ok) {
        return false;
      }
      GdiplusGraphics graphics;
      if (GdipGetImageGraphicsContext(target.get(), graphics.put()) != Gdiplus::Ok) return false;
      GdipSetInterpolationMode(graphics.get(), static_cast<Gdiplus::InterpolationMode>(interpolation));
      GdipDrawImageRectI(graphics.get(), source.get(), 0, 0, output.width, output.height);
      if (GdipCreateHBITMAPFromBitmap(target.get(), scaled.put(), 0x00FFFFFF) != Gdiplus::Ok) return false;
    }
    return ::GetDIBits(dcs.display.get(), scaled.get(), 0, output.height, frame.Pixels(), frame.Info(),
                       DIB_RGB_COLORS) == output.height;
  });
  result.width = output.width;
  result.height = output.height;
  result.meanByte = SampledMean(frame.Pixels(), frame.PixelBytes());
  return result;
}
