#pragma once
// One frame of the screen or of a window, converted into a caller's bitmap buffer.

#include <windows.h>

#include <cstddef>
#include <memory>
#include <optional>

#include "capture/cursor_probe.h"
#include "capture/frame_scaler.h"
#include "base/gdi_resources.h"
#include "base/monitors.h"
#include "format/frame_size.h"

// The bitmaps a grab draws into, kept from one grab to the next. Making a bitmap of the
// screen's size costs a grab more than the copy into it on any thread but a process's first
// (the platform maps, clears and unmaps the memory anew each time), so consecutive grabs of
// one size and layout reuse them. Each is made anew when it is asked for with another size,
// layout or source; none stays selected into a device context between grabs. It also keeps
// the device context that a grab into a sample's own DIB section draws through, and the
// cursor probe that cursor frames ask (its thread runs until Release).
// Not thread-safe: its owner serialises the grabs that use it.
class GrabSurfaces {
 public:
  GrabSurfaces() noexcept = default;
  GrabSurfaces(const GrabSurfaces&) = delete;
  GrabSurfaces& operator=(const GrabSurfaces&) = delete;

  // A bitmap compatible with source of width x height, or null. Its content is whatever
  // the last grab left; the grab clears it.
  HBITMAP Canvas(HDC source, int width, int height) noexcept;
  // The canvas of a grab that the filter's own scaler scales (a 32-bit DIB section), or null.
  // Either canvas is kept, not both.
  HBITMAP ScalingCanvas(HDC source, int width, int height) noexcept;
  FastScaleSurfaces& FastScale() noexcept { return fastScale_; }
  // A DIB section in layout (width and height included) with a memory device context for
  // it, or null: the 16-bit masked conversion's, or the 32-bit frame a YUV grab converts from.
  // The section is not selected into the device context.
  HBITMAP Section(HDC source, const BITMAPINFO* layout, size_t layoutBytes) noexcept;
  HDC SectionDC() const noexcept { return sectionDC_.get(); }
  // A memory device context compatible with source for drawing into a caller's DIB section
  // (or, when printing a window, into Painted), or null. Nothing stays selected into it
  // between grabs.
  HDC TargetDC(HDC source) noexcept;
  // A bitmap compatible with source that a window painting at another size than the screen
  // shows it is printed into before it is stretched, or null. Kept while the size stays.
  HBITMAP Painted(HDC source, int width, int height) noexcept;
  // The cursor's state now (see CursorProbe); false when there is none to draw.
  bool Cursor(CURSORINFO* cursor) noexcept { return cursor_.Query(cursor); }
  // A buffer of at least bytes that the conversion into an 8-bit layout passes its lines
  // through, or null. Kept until a larger one is asked for.
  BYTE* Band(size_t bytes) noexcept;

  // Releases every bitmap and device context and ends the cursor probe's thread; the next
  // grab makes them anew.
  void Release() noexcept;

 private:
  BitmapHandle canvas_;
  HDC canvasSource_ = nullptr;
  int canvasBitsPerPixel_ = 0;
  int canvasWidth_ = 0;
  int canvasHeight_ = 0;

  FastScaleSurfaces fastScale_;

  BitmapHandle section_;
  MemoryDC sectionDC_;
  HDC sectionSource_ = nullptr;
  alignas(8) BYTE sectionLayout_[sizeof(BITMAPV5HEADER) + 3 * sizeof(DWORD)] = {};

  BitmapHandle painted_;
  HDC paintedSource_ = nullptr;
  SIZE paintedSize_ = {};

  MemoryDC targetDC_;
  HDC targetSource_ = nullptr;
  CursorProbe cursor_;
  std::unique_ptr<BYTE[]> band_;
  size_t bandBytes_ = 0;
};

// What one grab copies and where it writes the frame.
struct GrabRequest {
  HDC source = nullptr;  // the screen's device context (or one compatible with the window)
  HDC memory = nullptr;  // a memory device context compatible with source
  RECT rectangle{};      // on the screen, or relative to the window's corner
  std::optional<FrameSize> outputSize;  // scaled to this size when given
  BYTE* destination = nullptr;
  size_t destinationBytes = 0;
  // Optional: a DIB section in info's layout (its colour table aside) whose bits are
  // destination, such as a buffer of the pin's own allocator. An unscaled screen copy of the
  // layout's size is then drawn straight into it, converted by the copy, in one pass.
  HBITMAP destinationSection = nullptr;
  BITMAPINFO* info = nullptr;  // the layout of destination
  size_t infoBytes = 0;
  bool drawCursor = false;
  bool includeLayeredWindows = false;
  LONG interpolation = 0;  // a GDI+ InterpolationMode value, or kInterpolationFast
  HWND window = nullptr;   // printed instead of copying the screen when given
  // The monitors a screen copy takes its pixels from: what the rectangle holds outside them
  // is black, and without any monitor the frame is black and has no cursor. Null: whatever
  // source gives for the rectangle.
  const MonitorLayout* monitors = nullptr;
};

// Copies rectangle of source (or, with a window, prints the window with rectangle taken
// relative to its corner) into a bitmap compatible with source, drawn through memory, where
// what the copy does not reach is black (with monitors, what none of them shows; the bitmap
// is cleared first unless the rectangle lies inside one monitor, or without monitors inside
// source's visible area); draws the cursor when drawCursor is set; scales to outputSize
// when one is given, with the filter's own scaler for kInterpolationFast, else with GDI+; then
// converts the lines into destination in the layout that info describes (a YUV layout from
// the 32-bit frame of its size, see format/yuv_frames.h). An 8-bit layout gets
// the nearest colours of the colour cube (format/colour_cube.h), whose colour table is written
// back into info. With a destinationSection, an unscaled screen copy of the layout's size in
// 16, 24 or 32 bits goes straight into it instead, with the same pixels. The bitmaps come from
// surfaces, which the caller keeps for its next grab.
// Never writes past destinationBytes of destination nor reads or writes past infoBytes of
// info, and converts no more lines than info's height. An empty rectangle, an unusable info,
// or a scaling step that fails leaves destination unwritten and gives false.
bool GrabFrame(const GrabRequest& request, GrabSurfaces& surfaces) noexcept;

// The same with bitmaps made for this grab alone.
bool GrabFrame(const GrabRequest& request) noexcept;
