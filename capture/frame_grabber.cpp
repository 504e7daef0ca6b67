#include "capture/frame_grabber.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <new>

#include "base/dpi_awareness.h"
#include "base/gdi_resources.h"
#include "format/colour_cube.h"
#include "format/desktop_formats.h"
#include "format/yuv_frames.h"
#include "module/dorvantel.h"

namespace {

using namespace Gdiplus::DllExports;

// The caller's bitmap info copied into a block with room for the largest bitmap header and
// a full colour table (or the three colour masks), so that GetDIBits never reads or writes
// past the caller's block however short it is.
class ConversionInfo {
 public:
  // False when info cannot describe an uncompressed layout that GetDIBits can fill.
  bool Load(const BITMAPINFO* info, size_t infoBytes) noexcept {
    if (!info || infoBytes < sizeof(BITMAPINFOHEADER)) return false;
    loaded_ = std::min(infoBytes, sizeof(block_));
    std::memcpy(block_, info, loaded_);
    const BITMAPINFOHEADER& header = Header();
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biSize > sizeof(BITMAPV5HEADER)) return false;
    if (header.biCompression != BI_RGB && header.biCompression != BI_BITFIELDS) return false;
    // Colour masks follow a plain header; without them the layout is unknown.
    const size_t masksEnd = sizeof(BITMAPINFOHEADER) + 3 * sizeof(DWORD);
    if (header.biCompression == BI_BITFIELDS && header.biSize == sizeof(BITMAPINFOHEADER) && infoBytes < masksEnd) {
      return false;
    }
    return header.biWidth > 0 && header.biHeight != 0 && header.biBitCount != 0;
  }

  // Converts up to lines of bitmap into destination, as many as the format's height and
  // the destination's size allow, and copies the header and colours back into info. An 8-bit
  // layout gets colour cube indices and the colour cube as its colour table; surfaces keep the
  // 32-bit lines those are made from. False when no line was converted.
  bool Convert(HDC dc, HBITMAP bitmap, LONG lines, BYTE* destination, size_t destinationBytes, BITMAPINFO* info,
               GrabSurfaces& surfaces) noexcept {
    const BITMAPINFOHEADER& header = Header();
    const uint64_t stride = (static_cast<uint64_t>(header.biWidth) * header.biBitCount + 31) / 32 * 4;
    const uint64_t fitting = destinationBytes / stride;
    const uint64_t formatLines = static_cast<uint64_t>(std::llabs(header.biHeight));
    const uint64_t count = std::min({static_cast<uint64_t>(std::max(lines, 0L)), formatLines, fitting});
    if (count == 0) return false;
    const bool converted = HasPalette()
                               ? ConvertToCube(dc, bitmap, static_cast<UINT>(count), destination, stride, surfaces)
                               : ::GetDIBits(dc, bitmap, 0, static_cast<UINT>(count), destination,
                                             reinterpret_cast<BITMAPINFO*>(block_), DIB_RGB_COLORS) > 0;
    std::memcpy(info, block_, loaded_);
    return converted;
  }

  bool SixteenBitsWithMasks() const noexcept {
    return Header().biBitCount == 16 && Header().biCompression == BI_BITFIELDS;
  }

  // True when the layout is bottom-up rows of width x height that fit destinationBytes.
  bool Describes(LONGLONG width, LONGLONG height, size_t destinationBytes) const noexcept {
    const BITMAPINFOHEADER& header = Header();
    const uint64_t stride = (static_cast<uint64_t>(header.biWidth) * header.biBitCount + 31) / 32 * 4;
    return header.biWidth == width && header.biHeight == height && stride * static_cast<uint64_t>(height) <= destinationBytes;
  }

  bool HasPalette() const noexcept { return Header().biBitCount == 8; }

  // Copies the header and colours back into info, as a conversion does.
  void WriteBack(BITMAPINFO* info) const noexcept { std::memcpy(info, block_, loaded_); }

  // The kept DIB section of width x height in this layout, or null.
  HBITMAP Section(GrabSurfaces& surfaces, HDC source, LONG width, LONG height) const noexcept {
    alignas(8) BYTE layout[sizeof(block_)];
    std::memcpy(layout, block_, sizeof(block_));
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(layout);
    header->biWidth = width;
    header->biHeight = height;
    header->biSizeImage = 0;
    return surfaces.Section(source, reinterpret_cast<BITMAPINFO*>(layout), sizeof(layout));
  }

 private:
  const BITMAPINFOHEADER& Header() const noexcept { return *reinterpret_cast<const BITMAPINFOHEADER*>(block_); }
  BYTE* Colours() noexcept { return block_ + Header().biSize; }

  // The 8-bit conversion: count lines of bitmap as 32-bit lines, a band at a time, each pixel
  // then mapped to the nearest colour of the cube. The lines land where GetDIBits would put
  // them in this layout; a top-down layout takes them in one band.
  bool ConvertToCube(HDC dc, HBITMAP bitmap, UINT count, BYTE* destination, uint64_t stride,
                     GrabSurfaces& surfaces) noexcept {
    constexpr uint64_t kBandBytes = 256 * 1024;
    const BITMAPINFOHEADER& header = Header();
    const size_t width = static_cast<size_t>(header.biWidth);
    const uint64_t wideStride = static_cast<uint64_t>(width) * 4;
    const UINT bandLines =
        header.biHeight < 0 ? count : static_cast<UINT>(std::clamp<uint64_t>(kBandBytes / wideStride, 1, count));
    const uint64_t bandBytes = bandLines * wideStride;
    if (bandBytes > SIZE_MAX) return false;
    BYTE* band = surfaces.Band(static_cast<size_t>(bandBytes));
    if (!band) return false;
    BITMAPINFOHEADER wide = {};
    wide.biSize = sizeof(wide);
    wide.biWidth = header.biWidth;
    wide.biHeight = header.biHeight;
    wide.biPlanes = 1;
    wide.biBitCount = 32;
    wide.biCompression = BI_RGB;
    UINT converted = 0;
    for (UINT first = 0; first < count; first += bandLines) {
      const UINT lines = std::min(bandLines, count - first);
      const int got = ::GetDIBits(dc, bitmap, first, lines, band, reinterpret_cast<BITMAPINFO*>(&wide), DIB_RGB_COLORS);
      if (got <= 0) break;
      for (int line = 0; line < got; ++line) {
        BYTE* row = destination + (first + line) * stride;
        ConvertToColourCube(band + line * wideStride, width, row);
        std::memset(row + width, 0, static_cast<size_t>(stride) - width);  // the row's padding
      }
      converted += static_cast<UINT>(got);
    }
    WriteColourCube(reinterpret_cast<RGBQUAD*>(Colours()));
    return converted > 0;
  }

  alignas(8) BYTE block_[sizeof(BITMAPV5HEADER) + 256 * sizeof(RGBQUAD)] = {};
  size_t loaded_ = 0;
};

// Wine's GetDIBits turns a screen-compatible bitmap into black pixels when asked for 16-bit
// colour masks, while a blit into a DIB section with those masks converts correctly. Returns
// such a section of the bitmap's size, filled from it, or null.
HBITMAP CopyIntoMaskedSection(HDC source, HDC memory, HBITMAP bitmap, const ConversionInfo& conversion,
                              GrabSurfaces& surfaces) noexcept {
  BITMAP size = {};
  if (!::GetObjectW(bitmap, sizeof(size), &size)) return nullptr;
  HBITMAP section = conversion.Section(surfaces, source, size.bmWidth, size.bmHeight);
  if (!section) return nullptr;
  SelectedObject selectedSection(surfaces.SectionDC(), section);
  SelectedObject selectedBitmap(memory, bitmap);
  // Every pixel of the section is overwritten.
  ::BitBlt(surfaces.SectionDC(), 0, 0, size.bmWidth, size.bmHeight, memory, 0, 0, SRCCOPY);
  return section;
}

// Draws the current cursor shape at its hotspot-adjusted position, into the few pixels where
// it lands, at the size the screen shows cursors (the system's cursor size, larger on a scaled
// screen; the hotspot scaled with the shape). Without a window the memory device context's
// pixel (0, 0) is the rectangle's corner on the screen; with one, its logical (0, 0) is the
// window's corner. The cursor's state comes from the surfaces' probe, not from this thread
// (see CursorProbe). Positions and sizes are physical: the caller measures in physical pixels.
void DrawCursor(HDC memory, const RECT& rectangle, HWND window, GrabSurfaces& surfaces) noexcept {
  CURSORINFO cursor = {};
  if (!surfaces.Cursor(&cursor)) return;
  const int width = ::GetSystemMetrics(SM_CXCURSOR);
  const int height = ::GetSystemMetrics(SM_CYCURSOR);
  ICONINFO icon = {};
  if (!::GetIconInfo(cursor.hCursor, &icon)) return;
  BitmapHandle colour(icon.hbmColor);
  BitmapHandle mask(icon.hbmMask);
  // The shape's own size: the mask holds the AND and XOR halves of a monochrome cursor.
  BITMAP shape = {};
  LONG shapeWidth = width, shapeHeight = height;
  if (::GetObjectW(colour ? colour.get() : mask.get(), sizeof(shape), &shape) && shape.bmWidth > 0) {
    shapeWidth = shape.bmWidth;
    shapeHeight = colour ? shape.bmHeight : shape.bmHeight / 2;
  }
  const LONG hotspotX = shapeWidth > 0 ? ::MulDiv(static_cast<int>(icon.xHotspot), width, shapeWidth) : 0;
  const LONG hotspotY = shapeHeight > 0 ? ::MulDiv(static_cast<int>(icon.yHotspot), height, shapeHeight) : 0;

  POINT origin = {rectangle.left, rectangle.top};
  if (window) {
    const RECT windowRect = WindowRectOnScreen(window);
    origin = {windowRect.left, windowRect.top};
  }
  ::DrawIconEx(memory, cursor.ptScreenPos.x - origin.x - hotspotX, cursor.ptScreenPos.y - origin.y - hotspotY,
               cursor.hCursor, width, height, 0, nullptr, DI_NORMAL);
  colour.reset();
  mask.reset();
}

// Prints the window into memory (whose logical origin is the window's corner) at the size the
// screen shows it. A window that paints at another size than that (a DPI-unaware one on a
// scaled screen, which the system stretches) is printed at its own size into a bitmap of the
// surfaces and stretched from there, so rectangles, the cursor and the frame's size stay in
// physical pixels.
void PrintWindowAsShown(HWND window, HDC source, HDC memory, GrabSurfaces& surfaces) noexcept {
  const RECT shown = WindowRectOnScreen(window);
  const RECT painted = WindowRectAsPainted(window);
  const int shownWidth = shown.right - shown.left, shownHeight = shown.bottom - shown.top;
  const int paintedWidth = painted.right - painted.left, paintedHeight = painted.bottom - painted.top;
  if ((paintedWidth == shownWidth && paintedHeight == shownHeight) || paintedWidth <= 0 || paintedHeight <= 0) {
    ::PrintWindow(window, memory, 0);
    return;
  }
  HBITMAP bitmap = surfaces.Painted(source, paintedWidth, paintedHeight);
  HDC paint = surfaces.TargetDC(source);
  if (!bitmap || !paint) return;  // black, as what printing does not reach
  SelectedObject selected(paint, bitmap);
  ::PatBlt(paint, 0, 0, paintedWidth, paintedHeight, BLACKNESS);
  ::PrintWindow(window, paint, 0);
  // Nearest pixels: solid colours stay exact, and it costs no more than a copy.
  const int previousMode = ::SetStretchBltMode(memory, COLORONCOLOR);
  ::StretchBlt(memory, 0, 0, shownWidth, shownHeight, paint, 0, 0, paintedWidth, paintedHeight, SRCCOPY);
  ::SetStretchBltMode(memory, previousMode);
}

// The grabbed bitmap stretched to size by GDI+, in the grabbed bitmap's pixel format. Empty
// when a GDI+ object could not be made.
BitmapHandle ScaleBitmap(HBITMAP grabbed, FrameSize size, LONG interpolation) noexcept {
  GdiplusBitmap source;
  if (GdipCreateBitmapFromHBITMAP(grabbed, nullptr, source.put()) != Gdiplus::Ok) return {};
  Gdiplus::PixelFormat format = 0;
  if (GdipGetImagePixelFormat(source.get(), &format) != Gdiplus::Ok) return {};
  GdiplusBitmap scaled;
  if (GdipCreateBitmapFromScan0(size.width, size.height, 0, format, nullptr, scaled.put()) != Gdiplus::Ok) return {};
  GdiplusGraphics graphics;
  if (GdipGetImageGraphicsContext(scaled.get(), graphics.put()) != Gdiplus::Ok) return {};
  GdipSetInterpolationMode(graphics.get(), static_cast<Gdiplus::InterpolationMode>(interpolation));
  GdipDrawImageRectI(graphics.get(), source.get(), 0, 0, size.width, size.height);
  graphics.reset();
  source.reset();

  BitmapHandle result;
  const Gdiplus::ARGB transparentWhite = 0x00FFFFFF;
  if (GdipCreateHBITMAPFromBitmap(scaled.get(), result.put(), transparentWhite) != Gdiplus::Ok) return {};
  return result;
}

// True when a copy of rectangle from source writes every pixel of a canvas of its size: the
// rectangle lies inside source's visible area, and that area is one rectangle (a desktop of
// monitors that leaves gaps between them is not). The clip box is the device context's own,
// so asking costs nothing, unlike asking for the monitors, which on Wine costs as much as the
// clear it would save.
bool CopyCoversCanvas(HDC source, const RECT& rectangle) noexcept {
  RECT visible = {};
  if (::GetClipBox(source, &visible) != SIMPLEREGION) return false;
  return rectangle.left >= visible.left && rectangle.top >= visible.top && rectangle.right <= visible.right &&
         rectangle.bottom <= visible.bottom;
}

// The rows a screen copy from left of the screen's origin takes at a time. Wine 8 has copied a
// monitor left of the primary in one piece at about twenty times the cost of its pixels (15 to
// 22 ms a frame for 800x600, against 0.6 to 0.8 in bands of rows); the pixels are the same.
constexpr int kBandRows = 128;

// BitBlt of width x height pixels from source's (x, y) to target's (left, top); from left of
// the screen's origin a band of rows at a time. False when a copy failed.
bool CopyRows(HDC target, int left, int top, int width, int height, HDC source, int x, int y,
              DWORD rasterOperation) noexcept {
  const int band = x < 0 ? kBandRows : height;
  bool copied = true;
  for (int row = 0; row < height; row += band) {
    const int rows = std::min(band, height - row);
    copied = ::BitBlt(target, left, top + row, width, rows, source, x, y + row, rasterOperation) && copied;
  }
  return copied;
}

// Copies the request's rectangle of the screen into target's (0, 0), width x height pixels.
// Whatever the copy does not reach is black, as in a new bitmap: with monitors, every part of
// the rectangle that no monitor shows; without, what lies outside the source's visible area.
// A copy that lies inside one monitor (or the visible area) overwrites every pixel, so there
// only a copy that fails needs the clear. With monitors, only their parts are copied: a
// rectangle across two monitors costs their pixels, not the gap's.
void CopyScreen(HDC target, const GrabRequest& request, int width, int height) noexcept {
  const RECT& rectangle = request.rectangle;
  const DWORD rasterOperation = request.includeLayeredWindows ? SRCCOPY | CAPTUREBLT : SRCCOPY;
  bool covered = false;
  if (request.monitors) {
    covered = std::any_of(request.monitors->begin(), request.monitors->end(), [&](const Monitor& monitor) {
      const RECT& m = monitor.rect;
      return rectangle.left >= m.left && rectangle.top >= m.top && rectangle.right <= m.right &&
             rectangle.bottom <= m.bottom;
    });
  } else {
    covered = CopyCoversCanvas(request.source, rectangle);
  }
  if (covered || !request.monitors) {
    if (!covered) ::PatBlt(target, 0, 0, width, height, BLACKNESS);
    if (!CopyRows(target, 0, 0, width, height, request.source, rectangle.left, rectangle.top, rasterOperation) &&
        covered) {
      ::PatBlt(target, 0, 0, width, height, BLACKNESS);
    }
    return;
  }
  ::PatBlt(target, 0, 0, width, height, BLACKNESS);
  for (const Monitor& monitor : *request.monitors) {
    RECT part = {};
    if (!::IntersectRect(&part, &rectangle, &monitor.rect)) continue;
    CopyRows(target, part.left - rectangle.left, part.top - rectangle.top, part.right - part.left,
             part.bottom - part.top, request.source, part.left, part.top, rasterOperation);
  }
}

// A frame that shows no monitor at all shows no cursor either.
bool DrawsCursor(const GrabRequest& request) noexcept {
  return request.drawCursor && (!request.monitors || request.monitors->Count() > 0);
}

// The screen copy straight into the caller's DIB section (the destination's own memory),
// converted by the copy: the pixels the copy into the canvas and the conversion give, in one
// pass over the frame. Not for 8-bit layouts, whose colours the conversion picks itself. False,
// with nothing written, when the section cannot be drawn into: the caller converts as usual then.
bool GrabIntoSection(const GrabRequest& request, ConversionInfo& conversion, GrabSurfaces& surfaces) noexcept {
  const RECT& rectangle = request.rectangle;
  const int width = static_cast<int>(rectangle.right - rectangle.left);
  const int height = static_cast<int>(rectangle.bottom - rectangle.top);
  HDC target = surfaces.TargetDC(request.source);
  if (!target) return false;
  {
    SelectedObject selected(target, request.destinationSection);
    if (!selected) return false;
    CopyScreen(target, request, width, height);
    if (DrawsCursor(request)) DrawCursor(target, rectangle, nullptr, surfaces);
  }
  // GDI may batch its drawing into a section; the destination is read through its memory.
  ::GdiFlush();
  conversion.WriteBack(request.info);
  return true;
}

}  // namespace

HBITMAP GrabSurfaces::Canvas(HDC source, int width, int height) noexcept {
  const int bitsPerPixel = ::GetDeviceCaps(source, BITSPIXEL) * ::GetDeviceCaps(source, PLANES);
  if (canvas_ && source == canvasSource_ && bitsPerPixel == canvasBitsPerPixel_ && width == canvasWidth_ &&
      height == canvasHeight_) {
    return canvas_.get();
  }
  canvas_.reset();  // before the new one is made: two screen-sized bitmaps never live at once
  fastScale_.Release();
  canvas_.reset(::CreateCompatibleBitmap(source, width, height));
  canvasSource_ = source;
  canvasBitsPerPixel_ = bitsPerPixel;
  canvasWidth_ = width;
  canvasHeight_ = height;
  return canvas_.get();
}

HBITMAP GrabSurfaces::ScalingCanvas(HDC source, int width, int height) noexcept {
  canvas_.reset();
  return fastScale_.Canvas(source, width, height);
}

HBITMAP GrabSurfaces::Section(HDC source, const BITMAPINFO* layout, size_t layoutBytes) noexcept {
  const size_t keyBytes = std::min(layoutBytes, sizeof(sectionLayout_));
  if (section_ && sectionDC_ && source == sectionSource_ && std::memcmp(sectionLayout_, layout, keyBytes) == 0) {
    return section_.get();
  }
  section_.reset();
  sectionDC_.reset();
  std::memset(sectionLayout_, 0, sizeof(sectionLayout_));
  void* bits = nullptr;
  section_.reset(::CreateDIBSection(source, layout, DIB_RGB_COLORS, &bits, nullptr, 0));
  sectionDC_.reset(::CreateCompatibleDC(source));
  if (!section_ || !sectionDC_) {
    section_.reset();
    sectionDC_.reset();
    return nullptr;
  }
  std::memcpy(sectionLayout_, layout, keyBytes);
  sectionSource_ = source;
  return section_.get();
}

HDC GrabSurfaces::TargetDC(HDC source) noexcept {
  if (!targetDC_ || source != targetSource_) {
    targetDC_.reset(::CreateCompatibleDC(source));
    targetSource_ = source;
  }
  return targetDC_.get();
}

HBITMAP GrabSurfaces::Painted(HDC source, int width, int height) noexcept {
  if (!painted_ || source != paintedSource_ || width != paintedSize_.cx || height != paintedSize_.cy) {
    painted_.reset(::CreateCompatibleBitmap(source, width, height));
    paintedSource_ = source;
    paintedSize_ = {width, height};
  }
  return painted_.get();
}

BYTE* GrabSurfaces::Band(size_t bytes) noexcept {
  if (bytes > bandBytes_) {
    band_.reset(new (std::nothrow) BYTE[bytes]);
    bandBytes_ = band_ ? bytes : 0;
  }
  return band_.get();
}

void GrabSurfaces::Release() noexcept {
  cursor_.Stop();
  band_.reset();
  bandBytes_ = 0;
  targetDC_.reset();
  targetSource_ = nullptr;
  painted_.reset();
  paintedSource_ = nullptr;
  canvas_.reset();
  fastScale_.Release();
  canvasSource_ = nullptr;
  section_.reset();
  sectionDC_.reset();
  sectionSource_ = nullptr;
}

bool GrabFrame(const GrabRequest& request) noexcept {
  GrabSurfaces surfaces;
  return GrabFrame(request, surfaces);
}

namespace {

// A YUV frame: the grab's 32-bit frame of the destination's size (scaled, with the cursor, as
// any grab) drawn into a kept 32-bit DIB section (an unscaled screen copy goes straight into
// it, one pass), then converted from the section's memory into the layout in one more.
bool GrabYuv(const GrabRequest& request, YuvLayout layout, GrabSurfaces& surfaces) noexcept {
  const BITMAPINFOHEADER& header = request.info->bmiHeader;
  const LONG width = header.biWidth, height = header.biHeight;
  const uint64_t needed = YuvImageSize(layout, width, height);
  if (needed == 0 || request.destinationBytes < needed) return false;
  const uint64_t wideBytes = static_cast<uint64_t>(width) * 4 * static_cast<uint64_t>(height);
  if (wideBytes > SIZE_MAX) return false;
  BITMAPINFO wideInfo = {};
  wideInfo.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  wideInfo.bmiHeader.biWidth = width;
  wideInfo.bmiHeader.biHeight = height;  // bottom-up, as the one-pass screen copy takes it
  wideInfo.bmiHeader.biPlanes = 1;
  wideInfo.bmiHeader.biBitCount = 32;
  wideInfo.bmiHeader.biCompression = BI_RGB;
  HBITMAP section = surfaces.Section(request.source, &wideInfo, sizeof(BITMAPINFOHEADER));
  DIBSECTION described = {};
  if (!section || ::GetObjectW(section, sizeof(described), &described) != sizeof(described) ||
      !described.dsBm.bmBits) {
    return false;
  }
  BYTE* wide = static_cast<BYTE*>(described.dsBm.bmBits);
  GrabRequest grab = request;
  grab.destination = wide;
  grab.destinationBytes = static_cast<size_t>(wideBytes);
  grab.destinationSection = section;
  grab.info = &wideInfo;
  grab.infoBytes = sizeof(BITMAPINFOHEADER);
  if (!GrabFrame(grab, surfaces)) return false;
  ::GdiFlush();  // GDI may batch its drawing into the section
  const ptrdiff_t stride = static_cast<ptrdiff_t>(width) * 4;
  return ConvertToYuv(layout, wide + (height - 1) * stride, -stride, width, height, request.destination,
                      request.destinationBytes);
}

}  // namespace

bool GrabFrame(const GrabRequest& request, GrabSurfaces& surfaces) noexcept {
  // Rectangles, windows and the cursor are measured in physical pixels, whatever the host.
  PhysicalPixels physical;
  YuvLayout yuv;
  if (request.destination && request.info && request.infoBytes >= sizeof(BITMAPINFOHEADER) &&
      DescribesYuv(request.info->bmiHeader, &yuv)) {
    return GrabYuv(request, yuv, surfaces);
  }
  HDC source = request.source;
  HDC memory = request.memory;
  const RECT& rectangle = request.rectangle;
  const std::optional<FrameSize>& outputSize = request.outputSize;
  BYTE* destination = request.destination;
  const size_t destinationBytes = request.destinationBytes;
  BITMAPINFO* info = request.info;
  const size_t infoBytes = request.infoBytes;
  const bool drawCursor = request.drawCursor;
  const LONG interpolation = request.interpolation;
  HWND window = request.window;
  if (::IsRectEmpty(&rectangle)) return false;
  const LONGLONG width = static_cast<LONGLONG>(rectangle.right) - rectangle.left;
  const LONGLONG height = static_cast<LONGLONG>(rectangle.bottom) - rectangle.top;
  if (width > INT_MAX || height > INT_MAX) return false;
  ConversionInfo conversion;
  if (!destination || !conversion.Load(info, infoBytes)) return false;
  if (request.destinationSection && !outputSize && !window && !conversion.HasPalette() &&
      conversion.Describes(width, height, destinationBytes) && GrabIntoSection(request, conversion, surfaces)) {
    return true;
  }

  const bool fastScale = outputSize && interpolation == kInterpolationFast;
  HBITMAP canvas = fastScale ? surfaces.ScalingCanvas(source, static_cast<int>(width), static_cast<int>(height))
                             : surfaces.Canvas(source, static_cast<int>(width), static_cast<int>(height));
  if (!canvas) return false;
  {
    SelectedObject selected(memory, canvas);
    if (window) {
      // Whatever the window's printing does not reach stays black, as in a new bitmap.
      ::PatBlt(memory, 0, 0, static_cast<int>(width), static_cast<int>(height), BLACKNESS);
      // The window's point (left, top) lands on the bitmap's pixel (0, 0).
      POINT previousOrigin = {};
      ::SetWindowOrgEx(memory, rectangle.left, rectangle.top, &previousOrigin);
      PrintWindowAsShown(window, source, memory, surfaces);
      if (drawCursor) DrawCursor(memory, rectangle, window, surfaces);
      ::SetWindowOrgEx(memory, previousOrigin.x, previousOrigin.y, nullptr);
    } else {
      CopyScreen(memory, request, static_cast<int>(width), static_cast<int>(height));
      if (DrawsCursor(request)) DrawCursor(memory, rectangle, nullptr, surfaces);
    }
  }

  HBITMAP frame = canvas;
  LONG lines = static_cast<LONG>(height);
  BitmapHandle scaled;
  if (fastScale) {
    // 32-bit lines of the output's size are scaled straight into destination; any other
    // layout is converted from a 32-bit frame below.
    bool written = false;
    frame = surfaces.FastScale().Scale(source, *outputSize, destination, destinationBytes, info, infoBytes, &written);
    if (written) return true;
    if (!frame) return false;
    lines = outputSize->height;
  } else if (outputSize) {
    scaled = ScaleBitmap(canvas, *outputSize, interpolation);
    if (!scaled) return false;
    frame = scaled.get();
    lines = outputSize->height;
  }
  if (conversion.SixteenBitsWithMasks()) {
    frame = CopyIntoMaskedSection(source, memory, frame, conversion, surfaces);
    if (!frame) return false;
  }
  // No bitmap is selected into a device context now; source converts the frame.
  return conversion.Convert(source, frame, lines, destination, destinationBytes, info, surfaces);
}
