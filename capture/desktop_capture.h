#pragma once
// DesktopCapture: the capture side of the desktop pin. Owns the capture settings, the source
// device context (ScreenDC) and the memory device context for the current CaptureArea, the
// bitmaps that grabs draw into (kept between the grabs of one area), the monitor layout that
// screen grabs copy from, and a GDI+ session for its whole life; all are released by its
// destructor.
//
// Every area grabs through the whole screen's device context (GetDC of no window), which uses
// screen coordinates on every platform: under Wine a "DISPLAY" device context has its origin
// at the virtual desktop's corner instead, so it read the wrong monitor's pixels wherever the
// primary monitor is not the top-left one.
// Every measurement of the screen (its size, monitors, windows, the cursor) and every grab is
// made in physical pixels (PhysicalPixels), whatever DPI awareness the host declared, and the
// host's thread gets its own context back before a call returns; rectangles and sizes in the
// settings are physical pixels.
// CaptureLock guards the settings, the device contexts and the bitmaps: a grab and every
// change of them hold it. It is re-entrant, and nothing else is taken while it is held
// but the pin's format lock. A grab that prints a window holds it while the window's thread
// answers, so a thread waiting for it answers messages sent to its windows meanwhile.

#include <windows.h>

#include <cstddef>
#include <optional>

#include "capture/capture_settings.h"
#include "capture/frame_grabber.h"
#include "base/gdi_resources.h"
#include "base/monitors.h"
#include "base/section_lock.h"
#include "format/frame_size.h"

// Grab's answer once the captured window no longer exists.
constexpr HRESULT kCaptureWindowGone = HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);

class DesktopCapture {
 public:
  // Default settings, device contexts for area 0, CaptureRect the display's size, then GDI+.
  DesktopCapture() noexcept;
  // Device contexts closed for the current area, then GDI+ ended.
  ~DesktopCapture();
  DesktopCapture(const DesktopCapture&) = delete;
  DesktopCapture& operator=(const DesktopCapture&) = delete;

  SectionLock& CaptureLock() noexcept { return captureLock_; }
  // The caller holds CaptureLock while it reads or writes them.
  CaptureSettings& Settings() noexcept { return settings_; }
  const CaptureSettings& Settings() const noexcept { return settings_; }

  // The size of the frames produced now: OutputSize, else the rectangle's size.
  ::FrameSize FrameSize() noexcept;

  // Closes the device contexts of the current area and opens those of the new one; the
  // same area again changes nothing. E_INVALIDARG for an area outside 0-5. Areas 4 and 5
  // take their rectangle (TakeLayout) as they become current.
  HRESULT SwitchCaptureArea(LONG area) noexcept;

  // The monitor of area 4, by its number; in area 4 its rectangle is taken at once.
  // E_INVALIDARG for a number outside SourceLimits' range.
  HRESULT SelectMonitor(LONG number) noexcept;

  // Areas 4 and 5: CaptureRect becomes the monitor's (or the whole desktop's) rectangle as
  // the layout is now. With keepSize (the connected frame size) and no OutputSize, the
  // rectangle keeps that size from the monitor's corner. A missing monitor sets
  // MonitorMissing and the primary monitor's size. Other areas: nothing changes.
  void TakeLayout(std::optional<::FrameSize> keepSize = std::nullopt) noexcept;

  // Every setting back to its default and the device contexts of area 0.
  void ResetSettings() noexcept;

  // Areas 2 and 3 with a WindowTitle: looks the window up and makes it CaptureWindow; with
  // resize and WholeWindow, CaptureRect becomes the window's size. S_OK without a title,
  // HRESULT_FROM_WIN32(ERROR_NOT_FOUND) when no window has it (nothing changes then).
  HRESULT FindTitledWindow(bool resize) noexcept;

  // Grabs one frame with the current settings into destination (see GrabFrame), scaled to
  // the size info describes when the settings make frames of another size: S_OK when
  // written, S_FALSE when nothing was, kCaptureWindowGone when the captured window was
  // closed before or while it was printed (what was drawn then is not a frame of it). With
  // destinationSection (a DIB section whose bits are destination), screen frames of the
  // layout's size are copied straight into it.
  HRESULT Grab(BYTE* destination, size_t destinationBytes, BITMAPINFO* info, size_t infoBytes,
               HBITMAP destinationSection = nullptr) noexcept;

  // Releases the bitmaps kept for the next grab and ends the cursor probe's thread, as when
  // streaming stops; a later grab makes them anew.
  void ReleaseSurfaces() noexcept;

  // The device contexts of the current area.
  HDC ScreenDC() const noexcept { return screen_.get(); }
  HDC MemoryDC() const noexcept { return memory_.get(); }

 private:
  void OpenDeviceContexts() noexcept;
  void CaptureWholeDisplay() noexcept;
  void CloseDeviceContexts() noexcept;
  // The layout screen grabs copy from, read again when the desktop's bounds changed or
  // kLayoutAge has passed (reading it costs about a millisecond under Wine).
  const MonitorLayout& CurrentLayout() noexcept;

  SectionLock captureLock_{SectionLock::Waiting::AnsweringSentMessages};
  GdiplusSession gdiplus_;
  CaptureSettings settings_;
  WindowDC screen_;  // the whole screen's device context
  ::MemoryDC memory_;
  GrabSurfaces surfaces_;  // compatible with the current area's device contexts
  MonitorLayout layout_;
  RECT layoutBounds_ = {};  // the screen device context's clip box when layout_ was read
  ULONGLONG layoutRead_ = 0;
};
