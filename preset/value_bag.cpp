#include "preset/value_bag.h"

#include <new>

namespace dorvantel {

HRESULT STDMETHODCALLTYPE ValueBag::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IPropertyBag)) return E_NOINTERFACE;
  *out = static_cast<IPropertyBag*>(this);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ValueBag::Read(LPCOLESTR name, VARIANT* value, IErrorLog*) {
  if (!name || !value) return E_POINTER;
  for (const PresetValue& stored : values_) {
    if (_wcsicmp(stored.key.c_str(), name) != 0) continue;
    ::VariantInit(value);
    if (!stored.isText) {
      value->vt = VT_I4;
      value->lVal = stored.number;
      return S_OK;
    }
    value->bstrVal = ::SysAllocStringLen(stored.text.data(), static_cast<UINT>(stored.text.size()));
    if (!value->bstrVal) return E_OUTOFMEMORY;
    value->vt = VT_BSTR;
    return S_OK;
  }
  return E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE ValueBag::Write(LPCOLESTR name, VARIANT* value) {
  if (!name || !value) return E_POINTER;
  try {
    PresetValue stored{name, false, 0, {}};
    if (value->vt == VT_BSTR) {
      stored.isText = true;
      if (value->bstrVal) stored.text.assign(value->bstrVal, ::SysStringLen(value->bstrVal));
    } else {
      VARIANT number;
      ::VariantInit(&number);
      if (FAILED(::VariantChangeType(&number, value, 0, VT_I4))) return DISP_E_TYPEMISMATCH;
      stored.number = number.lVal;
    }
    values_.push_back(std::move(stored));
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace dorvantel
