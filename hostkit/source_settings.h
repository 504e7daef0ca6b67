#pragma once
// SourceSettings: the desktop source's settings as a host writes them, through the filter's
// IPropertyBag under the names of module/dorvantel.h. Holds one reference on the bag; every
// call answers E_NOINTERFACE when the filter has none.

#include <windows.h>
#include <dshow.h>
#include <ocidl.h>

#include "base/com_ptr.h"

namespace dorvantel {

class SourceSettings {
 public:
  explicit SourceSettings(IBaseFilter* filter) noexcept;
  explicit SourceSettings(IPropertyBag* bag) noexcept : bag_(bag) {}

  IPropertyBag* bag() const noexcept { return bag_.get(); }

  HRESULT WriteLong(const wchar_t* name, LONG value) const noexcept;           // VT_I4
  HRESULT WriteBool(const wchar_t* name, bool value) const noexcept;           // VT_BOOL
  HRESULT WriteText(const wchar_t* name, const wchar_t* text) const noexcept;  // VT_BSTR
  // Values the bag reads through the pointer (a RECT, a WindowRegion, OutputDimensions).
  HRESULT WritePointer(const wchar_t* name, const void* value) const noexcept;
  // The frame rate the source is set to; E_UNEXPECTED when the bag gives no positive rate.
  HRESULT ReadFrameRate(int* rate) const noexcept;

 private:
  HRESULT Write(const wchar_t* name, VARIANT* value) const noexcept;

  ComPtr<IPropertyBag> bag_;
};

}  // namespace dorvantel
