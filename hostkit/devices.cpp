#include "hostkit/devices.h"

namespace dorvantel {

std::wstring ReadDeviceText(IPropertyBag* bag, const wchar_t* key) {
  VARIANT value;
  ::VariantInit(&value);
  std::wstring result;
  if (bag->Read(key, &value, nullptr) == S_OK) {
    if (value.vt == VT_BSTR && value.bstrVal) result = value.bstrVal;
    if (value.vt == VT_I4) result = std::to_wstring(value.lVal);
  }
  ::VariantClear(&value);
  return result;
}

HRESULT CreateVideoInputDevice(const std::wstring& name, ComPtr<IBaseFilter>* filter) {
  HRESULT bound = VFW_E_NOT_FOUND;
  HRESULT hr = ForEachVideoInputDevice([&](IMoniker* moniker, IPropertyBag*, const std::wstring& friendly) {
    if (friendly != name) return false;
    bound = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter->put_void());
    return true;
  });
  return FAILED(hr) ? hr : bound;
}

}  // namespace dorvantel
