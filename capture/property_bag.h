#pragma once
// CapturePropertyBag: the logic behind the desktop filter's IPropertyBag. It owns
// LastCaptureArea, the CaptureArea last written through the bag, which decides how a
// CaptureValue is read; every other setting lives in the DesktopCapture it is handed.
// Write and Read hold that capture's CaptureLock while they touch the settings;
// LastCaptureArea changes only under the same lock.

#include <windows.h>
#include <ocidl.h>

#include "capture/desktop_capture.h"

class CapturePropertyBag {
 public:
  // Sets the setting that name begins with from the value field of value (vt is not
  // looked at). S_FALSE for an unknown name, and for CaptureValue while LastCaptureArea is
  // outside 0-5. CaptureArea takes 0 to 5; CaptureValue in area 4 a monitor's number from
  // SourceLimits::kMinMonitor to kMaxMonitor (E_INVALIDARG else), ignored in area 5.
  // Flushes stdout first, every time.
  HRESULT Write(DesktopCapture& capture, LPCOLESTR name, VARIANT* value) noexcept;
  // Also WindowTitle (a BSTR of up to 511 characters; empty or null for none) and
  // OutputFormat (a BSTR: rgb32, rgb24, rgb565, rgb555, rgb8, i420, nv12 or yuy2, any case; empty or null for
  // any), E_INVALIDARG for others.

  // Reads IncludeCursor, CaptureTransparentWindows and FramePacing (VT_BOOL 1 or 0) and
  // FrameRate (VT_INT); writes only vt and the value field. S_FALSE and no change for other names.
  HRESULT Read(DesktopCapture& capture, LPCOLESTR name, VARIANT* value, IErrorLog* errorLog) noexcept;

  // Takes every key from bag, in Write's order of dependence (CaptureArea before
  // CaptureValue), and writes it through Write. Integers of any width stand for numbers
  // and booleans; CaptureValue is "LEFT,TOP,RIGHT,BOTTOM" (areas 1 and 3, relative to the
  // window in 3) or a monitor's number (area 4, a number or its text), OutputDimensions
  // "WIDTHxHEIGHT", whole decimal numbers only. A key the
  // bag does not give keeps its value. The first refused value ends Load with Write's
  // result (DISP_E_TYPEMISMATCH for a value of another type, E_INVALIDARG for text that
  // does not parse), and a Read answering E_OUTOFMEMORY ends it with that; either way every
  // setting is then as it was before Load. A window area with a title but no rectangle
  // captures the whole window.
  HRESULT Load(DesktopCapture& capture, IPropertyBag* bag, IErrorLog* errorLog) noexcept;
  // Writes the current settings into bag in the forms Load takes (numbers and booleans as
  // VT_I4, text as VT_BSTR, a monitor's number as VT_I4); a window handle is not saved, its
  // title is, and neither is a monitor's rectangle: Load takes it from the layout then.
  HRESULT Save(DesktopCapture& capture, IPropertyBag* bag) noexcept;
  // Every setting back to its default.
  void Reset(DesktopCapture& capture) noexcept;

  // True for a name that Write takes as OutputFormat, which changes the types offered.
  static bool ChangesFormats(LPCOLESTR name) noexcept;

  LONG LastCaptureArea() const noexcept { return lastCaptureArea_; }

 private:
  HRESULT WriteCaptureValue(DesktopCapture& capture, const VARIANT& value) noexcept;
  // Load's keys in their order; stops at the first refusal.
  HRESULT LoadKeys(DesktopCapture& capture, IPropertyBag* bag, IErrorLog* errorLog) noexcept;

  LONG lastCaptureArea_ = 0;
};
