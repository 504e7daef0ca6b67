#include "hostkit/pins.h"

namespace dorvantel {

void FreeMediaTypeContents(AM_MEDIA_TYPE* type) noexcept {
  ::CoTaskMemFree(type->pbFormat);
  type->cbFormat = 0;
  type->pbFormat = nullptr;
  if (type->pUnk) type->pUnk->Release();
  type->pUnk = nullptr;
}

HRESULT FindPin(IBaseFilter* filter, PIN_DIRECTION direction, ComPtr<IPin>* found) {
  ComPtr<IEnumPins> pins;
  HRESULT hr = filter->EnumPins(pins.put());
  if (FAILED(hr)) return hr;
  ComPtr<IPin> pin;
  while (pins->Next(1, pin.put(), nullptr) == S_OK) {
    PIN_DIRECTION pinDirection;
    if (SUCCEEDED(pin->QueryDirection(&pinDirection)) && pinDirection == direction) {
      *found = pin;
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

HRESULT OfferedType(IPin* pin, int position, TaskMediaType* type) {
  ComPtr<IEnumMediaTypes> types;
  HRESULT hr = pin->EnumMediaTypes(types.put());
  if (FAILED(hr)) return hr;
  if (position > 0 && types->Skip(static_cast<ULONG>(position)) != S_OK) return VFW_E_NO_ACCEPTABLE_TYPES;
  return types->Next(1, type->put(), nullptr) == S_OK && type->get() ? S_OK : VFW_E_NO_ACCEPTABLE_TYPES;
}

}  // namespace dorvantel
