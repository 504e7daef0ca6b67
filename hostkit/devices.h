#pragma once
// Capture devices as hosts find them: the video input device category of the system device
// enumerator, each device a moniker with a property bag (FriendlyName, CLSID, and for the
// desktop source's presets its settings). COM must be initialised on the calling thread.

#include <windows.h>
#include <dshow.h>

#include <string>

#include "base/com_ptr.h"

namespace dorvantel {

// A value of a device's property bag as text (a BSTR, or a VT_I4 in decimal); empty when
// the bag does not hold it.
std::wstring ReadDeviceText(IPropertyBag* bag, const wchar_t* key);

// Calls visit(moniker, bag, friendly name) for every video input device until it returns
// true. S_OK also when the category is empty.
template <typename Visit>
HRESULT ForEachVideoInputDevice(Visit visit) {
  ComPtr<ICreateDevEnum> devices;
  HRESULT hr =
      ::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum, devices.put_void());
  if (FAILED(hr)) return hr;
  ComPtr<IEnumMoniker> monikers;
  hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.put(), 0);
  if (hr != S_OK) return FAILED(hr) ? hr : S_OK;  // S_FALSE: the category is empty
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, moniker.put(), nullptr) == S_OK) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.put_void()))) continue;
    if (visit(moniker.get(), bag.get(), ReadDeviceText(bag.get(), L"FriendlyName"))) break;
  }
  return S_OK;
}

// Binds the video input device of that friendly name to its filter; VFW_E_NOT_FOUND when
// no device has it.
HRESULT CreateVideoInputDevice(const std::wstring& name, ComPtr<IBaseFilter>* filter);

}  // namespace dorvantel
