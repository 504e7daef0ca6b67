#pragma once
// What the desktop pin grabs and how. Plain data: its holder (DesktopCapture) guards it
// with CaptureLock.

#include <windows.h>

#include <optional>
#include <string>

#include "format/frame_size.h"
#include "module/dorvantel.h"

struct CaptureSettings {
  // Screen coordinates in the screen areas, relative to the window's corner in the window areas.
  // width and height follow left/top/right/bottom; set it through Set only.
  struct Rect {
    LONG left = 0;
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;
    LONG width = 0;
    LONG height = 0;

    void Set(LONG newLeft, LONG newTop, LONG newRight, LONG newBottom) noexcept {
      left = newLeft;
      top = newTop;
      right = newRight;
      bottom = newBottom;
      width = Difference(right, left);
      height = Difference(bottom, top);
    }
    RECT Corners() const noexcept { return RECT{left, top, right, bottom}; }

   private:
    // Wraps around like the platform's 32-bit arithmetic instead of overflowing.
    static LONG Difference(LONG a, LONG b) noexcept {
      return static_cast<LONG>(static_cast<ULONG>(a) - static_cast<ULONG>(b));
    }
  };

  bool IncludeCursor = false;
  bool CaptureTransparentWindows = false;
  LONGLONG FrameInterval = 1000000;  // 100-ns units
  LONG FrameRateMode = kRateByFrameCount;  // a SourceRateMode
  LONG CaptureArea = kAreaDisplay;        // a SourceArea
  Rect CaptureRect;
  HWND CaptureWindow = nullptr;
  // Area 4: the monitor's number (base/monitors.h). MonitorMissing: no monitor had it when
  // the rectangle was taken, so frames are black.
  LONG CaptureMonitor = 1;
  bool MonitorMissing = false;
  // Absent: no scaling. OutputDimensions sets it; SetFormat sets it, or makes it absent for
  // the captured size.
  std::optional<::FrameSize> OutputSize;
  LONG InterpolationMode = 0;             // a GDI+ InterpolationMode value, unchecked
  bool FramePacing = true;                // at most one frame per FrameInterval; off: as fast as taken
  // The one format offered and accepted, as the position of its offered type (0 to 5, see
  // format/desktop_formats.h), or -1 for all. OutputFormat and SetFormat choose it.
  int OutputFormat = -1;
  // Areas 2 and 3: the window named by its title, found again whenever streaming starts
  // (CaptureWindow is then the window found). WholeWindow: CaptureRect follows the window's
  // size when it is found while the pin is not connected; a rectangle written after the
  // title ends that.
  std::wstring WindowTitle;
  bool WholeWindow = false;

  // The size of the frames produced: OutputSize when present, else the rectangle's.
  ::FrameSize FrameSize() const noexcept {
    if (OutputSize) return *OutputSize;
    return ::FrameSize{CaptureRect.width, CaptureRect.height};
  }
};
