#include "capture/property_bag.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

// The value field of a VARIANT starts at byte 8 in both builds; Write reads it there
// whatever vt says.
static_assert(offsetof(VARIANT, lVal) == 8, "value field of a VARIANT");

// What a caller passes by pointer for CaptureValue in area 3: the window handle at the
// build's pointer width, then a rectangle relative to the window's corner.
struct WindowRegion {
  HWND window;
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
#ifdef _WIN64
static_assert(sizeof(WindowRegion) == 24 && offsetof(WindowRegion, left) == 8, "64-bit WindowRegion layout");
#else
static_assert(sizeof(WindowRegion) == 20 && offsetof(WindowRegion, left) == 4, "32-bit WindowRegion layout");
#endif

// True when name begins with key, compared case-sensitively (wcsncmp over the key's length).
bool Matches(LPCOLESTR name, const wchar_t* key) noexcept { return std::wcsncmp(name, key, std::wcslen(key)) == 0; }

constexpr LONGLONG kUnitsPerSecond = 10000000;

}  // namespace

HRESULT CapturePropertyBag::Write(DesktopCapture& capture, LPCOLESTR name, VARIANT* value) noexcept {
  std::fflush(stdout);
  if (!name || !value) return E_POINTER;

  SectionLockHolder hold(&capture.CaptureLock());
  CaptureSettings& settings = capture.Settings();
  if (Matches(name, L"IncludeCursor")) {
    settings.IncludeCursor = value->boolVal != 0;
    return S_OK;
  }
  if (Matches(name, L"CaptureTransparentWindows")) {
    settings.CaptureTransparentWindows = value->boolVal != 0;
    return S_OK;
  }
  if (Matches(name, L"FrameRateMode")) {
    settings.FrameRateMode = value->lVal;
    return S_OK;
  }
  if (Matches(name, L"FrameRate")) {
    const LONG rate = value->lVal;
    if (rate == 0) return E_INVALIDARG;
    // Beyond 10,000,000 frames per second either way there is no interval left.
    const LONGLONG interval = kUnitsPerSecond / rate;
    if (interval == 0) return E_INVALIDARG;
    settings.FrameInterval = interval;
    return S_OK;
  }
  if (Matches(name, L"CaptureArea")) {
    const LONG area = value->lVal;
    HRESULT hr = capture.SwitchCaptureArea(area);
    if (FAILED(hr)) return hr;
    lastCaptureArea_ = area;
    return S_OK;
  }
  if (Matches(name, L"CaptureValue")) return WriteCaptureValue(settings, *value);
  if (Matches(name, L"OutputDimensions")) {
    const LONG* dimensions = static_cast<const LONG*>(value->byref);
    if (!dimensions) return E_POINTER;
    LONG size[2];
    std::memcpy(size, dimensions, sizeof(size));
    if (size[0] <= 0 || size[1] <= 0) return E_INVALIDARG;
    settings.OutputSize = FrameSize{size[0], size[1]};
    return S_OK;
  }
  if (Matches(name, L"InterpolationMode")) {
    settings.InterpolationMode = value->lVal;
    return S_OK;
  }
  if (Matches(name, L"FramePacing")) {
    settings.FramePacing = value->boolVal != 0;
    return S_OK;
  }
  return S_FALSE;
}

HRESULT CapturePropertyBag::WriteCaptureValue(CaptureSettings& settings, const VARIANT& value) noexcept {
  switch (lastCaptureArea_) {
    case 0:
      return S_OK;
    case 1: {
      if (!value.byref) return E_POINTER;
      RECT rect;
      std::memcpy(&rect, value.byref, sizeof(rect));
      settings.CaptureRect.Set(rect.left, rect.top, rect.right, rect.bottom);
      return S_OK;
    }
    case 2:
      // A 32-bit handle in lVal, sign-extended to the handle's width.
      settings.CaptureWindow = reinterpret_cast<HWND>(static_cast<LONG_PTR>(value.lVal));
      return S_OK;
    case 3: {
      if (!value.byref) return E_POINTER;
      WindowRegion region;
      std::memcpy(&region, value.byref, sizeof(region));
      settings.CaptureWindow = region.window;
      settings.CaptureRect.Set(region.left, region.top, region.right, region.bottom);
      return S_OK;
    }
    default:
      return S_FALSE;
  }
}

HRESULT CapturePropertyBag::Read(DesktopCapture& capture, LPCOLESTR name, VARIANT* value, IErrorLog*) noexcept {
  if (!name || !value) return E_POINTER;

  SectionLockHolder hold(&capture.CaptureLock());
  const CaptureSettings& settings = capture.Settings();
  if (Matches(name, L"IncludeCursor")) {
    value->vt = VT_BOOL;
    value->boolVal = settings.IncludeCursor ? 1 : 0;
    return S_OK;
  }
  if (Matches(name, L"CaptureTransparentWindows")) {
    value->vt = VT_BOOL;
    value->boolVal = settings.CaptureTransparentWindows ? 1 : 0;
    return S_OK;
  }
  if (Matches(name, L"FrameRate")) {
    value->vt = VT_INT;
    value->intVal = settings.FrameInterval != 0 ? static_cast<INT>(kUnitsPerSecond / settings.FrameInterval) : 0;
    return S_OK;
  }
  if (Matches(name, L"FramePacing")) {
    value->vt = VT_BOOL;
    value->boolVal = settings.FramePacing ? 1 : 0;
    return S_OK;
  }
  return S_FALSE;
}
