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
  // outside 0-3. Flushes stdout first, every time.
  HRESULT Write(DesktopCapture& capture, LPCOLESTR name, VARIANT* value) noexcept;
  // Reads IncludeCursor, CaptureTransparentWindows and FramePacing (VT_BOOL 1 or 0) and
  // FrameRate (VT_INT); writes only vt and the value field. S_FALSE and no change for other names.
  HRESULT Read(DesktopCapture& capture, LPCOLESTR name, VARIANT* value, IErrorLog* errorLog) noexcept;

  LONG LastCaptureArea() const noexcept { return lastCaptureArea_; }

 private:
  HRESULT WriteCaptureValue(CaptureSettings& settings, const VARIANT& value) noexcept;

  LONG lastCaptureArea_ = 0;
};
