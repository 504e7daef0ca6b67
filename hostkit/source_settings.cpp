#include "hostkit/source_settings.h"

#include "module/dorvantel.h"

namespace dorvantel {

SourceSettings::SourceSettings(IBaseFilter* filter) noexcept {
  if (filter) filter->QueryInterface(IID_IPropertyBag, bag_.put_void());
}

HRESULT SourceSettings::Write(const wchar_t* name, VARIANT* value) const noexcept {
  return bag_ ? bag_->Write(name, value) : E_NOINTERFACE;
}

HRESULT SourceSettings::WriteLong(const wchar_t* name, LONG value) const noexcept {
  VARIANT v{};
  v.vt = VT_I4;
  v.lVal = value;
  return Write(name, &v);
}

HRESULT SourceSettings::WriteBool(const wchar_t* name, bool value) const noexcept {
  VARIANT v{};
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return Write(name, &v);
}

HRESULT SourceSettings::WriteText(const wchar_t* name, const wchar_t* text) const noexcept {
  VARIANT v{};
  v.vt = VT_BSTR;
  v.bstrVal = ::SysAllocString(text);
  if (!v.bstrVal) return E_OUTOFMEMORY;
  const HRESULT hr = Write(name, &v);
  ::VariantClear(&v);
  return hr;
}

HRESULT SourceSettings::WritePointer(const wchar_t* name, const void* value) const noexcept {
  VARIANT v{};
  v.vt = VT_BYREF | VT_I4;
  v.byref = const_cast<void*>(value);
  return Write(name, &v);
}

HRESULT SourceSettings::ReadFrameRate(int* rate) const noexcept {
  if (!bag_) return E_NOINTERFACE;
  VARIANT value;
  ::VariantInit(&value);
  const HRESULT hr = bag_->Read(SourceProperty::FrameRate, &value, nullptr);
  if (hr != S_OK || value.vt != VT_INT || value.intVal <= 0) return FAILED(hr) ? hr : E_UNEXPECTED;
  *rate = value.intVal;
  return S_OK;
}

}  // namespace dorvantel
