#include "capture/property_bag.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <new>
#include <string>
#include <utility>

#include "format/desktop_formats.h"

namespace {

// The value field of a VARIANT starts at byte 8 in both builds; Write reads it there
// whatever vt says.
static_assert(offsetof(VARIANT, lVal) == 8, "value field of a VARIANT");

// True when name begins with key, compared case-sensitively (wcsncmp over the key's length).
bool Matches(LPCOLESTR name, const wchar_t* key) noexcept { return std::wcsncmp(name, key, std::wcslen(key)) == 0; }

constexpr LONGLONG kUnitsPerSecond = 10000000;

constexpr size_t kMaxTitleLength = SourceLimits::kMaxWindowTitleLength;

// -1 for none (null or empty), the position of a named format, -2 for anything else.
int FormatPosition(const wchar_t* text) noexcept {
  if (!text || !*text) return -1;
  const size_t length = wcsnlen(text, 8);
  for (int i = 0; i < static_cast<int>(std::size(OutputFormatNames)); ++i) {
    const wchar_t* const name = OutputFormatNames[i];
    if (length == std::wcslen(name) && _wcsnicmp(text, name, length) == 0) return NamedFormatPosition(i);
  }
  return -2;
}

// Splits text into exactly count whole decimal numbers (an optional minus, then digits)
// separated by separator; nothing else, no spaces.
bool ParseLongs(const wchar_t* text, size_t length, wchar_t separator, size_t count, LONG* values) noexcept {
  size_t at = 0;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) {
      if (at >= length || text[at] != separator) return false;
      ++at;
    }
    const bool negative = at < length && text[at] == L'-';
    if (negative) ++at;
    const size_t first = at;
    LONGLONG magnitude = 0;
    while (at < length && text[at] >= L'0' && text[at] <= L'9') {
      magnitude = magnitude * 10 + (text[at] - L'0');
      if (magnitude > 2147483648LL) return false;
      ++at;
    }
    if (at == first) return false;
    const LONGLONG value = negative ? -magnitude : magnitude;
    if (value > 2147483647LL) return false;
    values[i] = static_cast<LONG>(value);
  }
  return at == length;
}

// An integer of any width (booleans included) as a LONG; false for every other type.
bool IntegerOf(const VARIANT& value, LONG* result) noexcept {
  switch (value.vt) {
    case VT_I1: *result = value.cVal; return true;
    case VT_UI1: *result = value.bVal; return true;
    case VT_I2: *result = value.iVal; return true;
    case VT_UI2: *result = value.uiVal; return true;
    case VT_BOOL: *result = value.boolVal; return true;
    case VT_I4: *result = value.lVal; return true;
    case VT_INT: *result = value.intVal; return true;
    case VT_UI4:
    case VT_UINT:
      if (value.ulVal > 0x7FFFFFFFu) return false;
      *result = static_cast<LONG>(value.ulVal);
      return true;
    default:
      return false;
  }
}

HRESULT WriteText(IPropertyBag* bag, const wchar_t* name, const std::wstring& text) noexcept {
  VARIANT value;
  ::VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!value.bstrVal) return E_OUTOFMEMORY;
  const HRESULT hr = bag->Write(name, &value);
  ::VariantClear(&value);
  return hr;
}

HRESULT WriteInteger(IPropertyBag* bag, const wchar_t* name, LONG number) noexcept {
  VARIANT value;
  ::VariantInit(&value);
  value.vt = VT_I4;
  value.lVal = number;
  return bag->Write(name, &value);
}

std::wstring Corners(const CaptureSettings::Rect& rect) {
  return std::to_wstring(rect.left) + L"," + std::to_wstring(rect.top) + L"," + std::to_wstring(rect.right) + L"," +
         std::to_wstring(rect.bottom);
}

// How Load turns what a bag gives into what Write takes.
enum class Stored { Boolean, Integer, Text, Corners, Size };

struct StoredKey {
  const wchar_t* name;
  Stored form;
};

// In the order Load writes them: CaptureArea before WindowTitle and CaptureValue, the
// title before the rectangle.
const StoredKey kStoredKeys[] = {
    {SourceProperty::IncludeCursor, Stored::Boolean},    {SourceProperty::CaptureTransparentWindows, Stored::Boolean},
    {SourceProperty::FrameRateMode, Stored::Integer},    {SourceProperty::FrameRate, Stored::Integer},
    {SourceProperty::CaptureArea, Stored::Integer},      {SourceProperty::WindowTitle, Stored::Text},
    {SourceProperty::CaptureValue, Stored::Corners},     {SourceProperty::OutputDimensions, Stored::Size},
    {SourceProperty::InterpolationMode, Stored::Integer}, {SourceProperty::FramePacing, Stored::Boolean},
    {SourceProperty::OutputFormat, Stored::Text},
};

}  // namespace

HRESULT CapturePropertyBag::Write(DesktopCapture& capture, LPCOLESTR name, VARIANT* value) noexcept {
  std::fflush(stdout);
  if (!name || !value) return E_POINTER;

  SectionLockHolder hold(&capture.CaptureLock());
  CaptureSettings& settings = capture.Settings();
  if (Matches(name, SourceProperty::IncludeCursor)) {
    settings.IncludeCursor = value->boolVal != 0;
    return S_OK;
  }
  if (Matches(name, SourceProperty::CaptureTransparentWindows)) {
    settings.CaptureTransparentWindows = value->boolVal != 0;
    return S_OK;
  }
  if (Matches(name, SourceProperty::FrameRateMode)) {
    settings.FrameRateMode = value->lVal;
    return S_OK;
  }
  if (Matches(name, SourceProperty::FrameRate)) {
    // A negative rate would make a negative interval: stamps running backwards, no pacing.
    const LONG rate = value->lVal;
    if (rate < SourceLimits::kMinBagFrameRate || rate > SourceLimits::kMaxBagFrameRate) return E_INVALIDARG;
    settings.FrameInterval = kUnitsPerSecond / rate;
    return S_OK;
  }
  if (Matches(name, SourceProperty::CaptureArea)) {
    const LONG area = value->lVal;
    HRESULT hr = capture.SwitchCaptureArea(area);
    if (FAILED(hr)) return hr;
    lastCaptureArea_ = area;
    return S_OK;
  }
  if (Matches(name, SourceProperty::CaptureValue)) return WriteCaptureValue(capture, *value);
  if (Matches(name, SourceProperty::OutputDimensions)) {
    if (!value->byref) return E_POINTER;
    OutputDimensions size;
    std::memcpy(&size, value->byref, sizeof(size));
    const auto inRange = [](LONG side) {
      return side >= SourceLimits::kMinOutputSide && side <= SourceLimits::kMaxOutputSide;
    };
    if (!inRange(size.width) || !inRange(size.height)) return E_INVALIDARG;
    settings.OutputSize = FrameSize{size.width, size.height};
    return S_OK;
  }
  if (Matches(name, SourceProperty::InterpolationMode)) {
    settings.InterpolationMode = value->lVal;
    return S_OK;
  }
  if (Matches(name, SourceProperty::FramePacing)) {
    settings.FramePacing = value->boolVal != 0;
    return S_OK;
  }
  if (Matches(name, SourceProperty::WindowTitle)) {
    const wchar_t* title = value->bstrVal;
    const size_t length = title ? wcsnlen(title, kMaxTitleLength + 1) : 0;
    if (length > kMaxTitleLength) return E_INVALIDARG;
    try {
      settings.WindowTitle.assign(title ? title : L"", length);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    settings.WholeWindow = length > 0;
    return S_OK;
  }
  if (Matches(name, SourceProperty::OutputFormat)) {
    const int position = FormatPosition(value->bstrVal);
    if (position < -1) return E_INVALIDARG;
    settings.OutputFormat = position;
    return S_OK;
  }
  return S_FALSE;
}

bool CapturePropertyBag::ChangesFormats(LPCOLESTR name) noexcept {
  return name && Matches(name, SourceProperty::OutputFormat);
}

void CapturePropertyBag::Reset(DesktopCapture& capture) noexcept {
  SectionLockHolder hold(&capture.CaptureLock());
  capture.ResetSettings();
  lastCaptureArea_ = 0;
}

HRESULT CapturePropertyBag::Load(DesktopCapture& capture, IPropertyBag* bag, IErrorLog* errorLog) noexcept {
  if (!bag) return E_POINTER;
  // A refused Load leaves every setting as it found it: the keys written before the one
  // refused are put back.
  CaptureSettings before;
  try {
    SectionLockHolder hold(&capture.CaptureLock());
    before = capture.Settings();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  const LONG areaBefore = lastCaptureArea_;
  const HRESULT hr = LoadKeys(capture, bag, errorLog);
  if (FAILED(hr)) {
    SectionLockHolder hold(&capture.CaptureLock());
    capture.SwitchCaptureArea(before.CaptureArea);
    capture.Settings() = std::move(before);
    lastCaptureArea_ = areaBefore;
    return hr;
  }
  capture.FindTitledWindow(true);  // missing now may be there when streaming starts
  return S_OK;
}

HRESULT CapturePropertyBag::LoadKeys(DesktopCapture& capture, IPropertyBag* bag, IErrorLog* errorLog) noexcept {
  for (const StoredKey& key : kStoredKeys) {
    VARIANT stored;
    ::VariantInit(&stored);
    // E_OUTOFMEMORY: the bag may hold the key and could not give it. Anything else but
    // S_OK: the bag does not hold the key.
    const HRESULT read = bag->Read(key.name, &stored, errorLog);
    if (read != S_OK) {
      ::VariantClear(&stored);
      if (read == E_OUTOFMEMORY) return read;
      continue;
    }
    VARIANT value;
    ::VariantInit(&value);
    LONG numbers[4] = {};
    WindowRegion region{};
    HRESULT hr = S_OK;
    const bool text = stored.vt == VT_BSTR;
    const wchar_t* chars = text && stored.bstrVal ? stored.bstrVal : L"";
    const size_t length = text ? ::SysStringLen(stored.bstrVal) : 0;
    switch (key.form) {
      case Stored::Boolean:
      case Stored::Integer:
        if (!IntegerOf(stored, &numbers[0])) {
          hr = DISP_E_TYPEMISMATCH;
        } else if (key.form == Stored::Boolean) {
          value.vt = VT_BOOL;
          value.boolVal = numbers[0] != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        } else {
          value.vt = VT_I4;
          value.lVal = numbers[0];
        }
        break;
      case Stored::Text:
        // A title or name with a zero inside is not the text it seems to be.
        if (!text) {
          hr = DISP_E_TYPEMISMATCH;
        } else if (wcsnlen(chars, length) != length) {
          hr = E_INVALIDARG;
        } else {
          value.vt = VT_BSTR;
          value.bstrVal = stored.bstrVal;
        }
        break;
      case Stored::Corners:
        if (lastCaptureArea_ == kAreaMonitor) {
          // A monitor's number, stored as a number or as its text.
          if (!IntegerOf(stored, &numbers[0]) && !(text && ParseLongs(chars, length, L',', 1, numbers))) {
            hr = text ? E_INVALIDARG : DISP_E_TYPEMISMATCH;
          } else {
            value.vt = VT_I4;
            value.lVal = numbers[0];
          }
        } else if (!text) {
          hr = DISP_E_TYPEMISMATCH;
        } else if (!ParseLongs(chars, length, L',', 4, numbers)) {
          hr = E_INVALIDARG;
        } else if (lastCaptureArea_ == kAreaWindowRectangle) {
          {
            SectionLockHolder hold(&capture.CaptureLock());
            region.window = capture.Settings().CaptureWindow;
          }
          region.left = numbers[0];
          region.top = numbers[1];
          region.right = numbers[2];
          region.bottom = numbers[3];
          value.vt = VT_BYREF | VT_I4;
          value.byref = &region;
        } else if (lastCaptureArea_ == kAreaWindow) {
          hr = E_INVALIDARG;  // a window without a rectangle: the value would be a handle
        } else {
          value.vt = VT_BYREF | VT_I4;
          value.byref = numbers;
        }
        break;
      case Stored::Size:
        if (!text) {
          hr = DISP_E_TYPEMISMATCH;
        } else if (!ParseLongs(chars, length, L'x', 2, numbers)) {
          hr = E_INVALIDARG;
        } else {
          value.vt = VT_BYREF | VT_I4;
          value.byref = numbers;
        }
        break;
    }
    if (hr == S_OK) hr = Write(capture, key.name, &value);
    ::VariantClear(&stored);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT CapturePropertyBag::Save(DesktopCapture& capture, IPropertyBag* bag) noexcept {
  if (!bag) return E_POINTER;
  try {
    CaptureSettings settings;
    {
      SectionLockHolder hold(&capture.CaptureLock());
      settings = capture.Settings();
    }
    const bool rectangle = settings.CaptureArea == kAreaScreenRectangle ||
                           (settings.CaptureArea == kAreaWindowRectangle && !settings.WholeWindow);
    const LONG rate = settings.FrameInterval != 0 ? static_cast<LONG>(kUnitsPerSecond / settings.FrameInterval) : 0;
    HRESULT hr = WriteInteger(bag, SourceProperty::IncludeCursor, settings.IncludeCursor);
    if (SUCCEEDED(hr)) {
      hr = WriteInteger(bag, SourceProperty::CaptureTransparentWindows, settings.CaptureTransparentWindows);
    }
    if (SUCCEEDED(hr)) hr = WriteInteger(bag, SourceProperty::FrameRateMode, settings.FrameRateMode);
    if (SUCCEEDED(hr)) hr = WriteInteger(bag, SourceProperty::FrameRate, rate);
    if (SUCCEEDED(hr)) hr = WriteInteger(bag, SourceProperty::CaptureArea, settings.CaptureArea);
    if (SUCCEEDED(hr) && !settings.WindowTitle.empty()) {
      hr = WriteText(bag, SourceProperty::WindowTitle, settings.WindowTitle);
    }
    if (SUCCEEDED(hr) && rectangle) hr = WriteText(bag, SourceProperty::CaptureValue, Corners(settings.CaptureRect));
    if (SUCCEEDED(hr) && settings.CaptureArea == kAreaMonitor) {
      hr = WriteInteger(bag, SourceProperty::CaptureValue, settings.CaptureMonitor);
    }
    if (SUCCEEDED(hr) && settings.OutputSize) {
      hr = WriteText(bag, SourceProperty::OutputDimensions,
                     std::to_wstring(settings.OutputSize->width) + L"x" + std::to_wstring(settings.OutputSize->height));
    }
    if (SUCCEEDED(hr)) hr = WriteInteger(bag, SourceProperty::InterpolationMode, settings.InterpolationMode);
    if (SUCCEEDED(hr)) hr = WriteInteger(bag, SourceProperty::FramePacing, settings.FramePacing);
    if (SUCCEEDED(hr) && settings.OutputFormat >= 0) {
      hr = WriteText(bag, SourceProperty::OutputFormat, DesktopFormatName(settings.OutputFormat));
    }
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CapturePropertyBag::WriteCaptureValue(DesktopCapture& capture, const VARIANT& value) noexcept {
  CaptureSettings& settings = capture.Settings();
  switch (lastCaptureArea_) {
    case kAreaDisplay:
    case kAreaDesktop:
      return S_OK;
    case kAreaMonitor:
      return capture.SelectMonitor(value.lVal);
    case kAreaScreenRectangle: {
      if (!value.byref) return E_POINTER;
      RECT rect;
      std::memcpy(&rect, value.byref, sizeof(rect));
      settings.CaptureRect.Set(rect.left, rect.top, rect.right, rect.bottom);
      settings.WholeWindow = false;
      return S_OK;
    }
    case kAreaWindow:
      // A 32-bit handle in lVal, sign-extended to the handle's width.
      settings.CaptureWindow = reinterpret_cast<HWND>(static_cast<LONG_PTR>(value.lVal));
      return S_OK;
    case kAreaWindowRectangle: {
      if (!value.byref) return E_POINTER;
      WindowRegion region;
      std::memcpy(&region, value.byref, sizeof(region));
      settings.CaptureWindow = region.window;
      settings.CaptureRect.Set(region.left, region.top, region.right, region.bottom);
      settings.WholeWindow = false;
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
  if (Matches(name, SourceProperty::IncludeCursor)) {
    value->vt = VT_BOOL;
    value->boolVal = settings.IncludeCursor ? 1 : 0;
    return S_OK;
  }
  if (Matches(name, SourceProperty::CaptureTransparentWindows)) {
    value->vt = VT_BOOL;
    value->boolVal = settings.CaptureTransparentWindows ? 1 : 0;
    return S_OK;
  }
  if (Matches(name, SourceProperty::FrameRate)) {
    value->vt = VT_INT;
    value->intVal = settings.FrameInterval != 0 ? static_cast<INT>(kUnitsPerSecond / settings.FrameInterval) : 0;
    return S_OK;
  }
  if (Matches(name, SourceProperty::FramePacing)) {
    value->vt = VT_BOOL;
    value->boolVal = settings.FramePacing ? 1 : 0;
    return S_OK;
  }
  return S_FALSE;
}
