#include "recorder/device_registration.h"

#include "recorder/desktop_source.h"
#include "recorder/resources.h"

namespace {

std::wstring ClassKeyPath() {
  wchar_t clsid[40];
  ::StringFromGUID2(kDesktopSourceClass, clsid, 40);
  return std::wstring(L"CLSID\\") + clsid;
}

LONG SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

HRESULT RegisterClass(const std::wstring& library_path) {
  RegistryKey class_key, server_key;
  LONG status = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, ClassKeyPath().c_str(), 0, nullptr, 0,
                                  KEY_WRITE, nullptr, class_key.put(), nullptr);
  if (status == ERROR_SUCCESS) status = SetString(class_key.get(), nullptr, kDeviceName);
  if (status == ERROR_SUCCESS) {
    status = ::RegCreateKeyExW(class_key.get(), L"InprocServer32", 0, nullptr, 0, KEY_WRITE,
                               nullptr, server_key.put(), nullptr);
  }
  if (status == ERROR_SUCCESS) status = SetString(server_key.get(), nullptr, library_path);
  if (status == ERROR_SUCCESS) status = SetString(server_key.get(), L"ThreadingModel", L"Both");
  return HRESULT_FROM_WIN32(status);
}

HRESULT CreateMapper(ComPtr<IFilterMapper2>* mapper) {
  return ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IFilterMapper2, mapper->put_void());
}

// Reads the FriendlyName of a device moniker.
std::wstring FriendlyName(IMoniker* moniker) {
  ComPtr<IPropertyBag> bag;
  if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.put_void()))) return {};
  VARIANT name;
  ::VariantInit(&name);
  std::wstring result;
  if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR && name.bstrVal) {
    result = name.bstrVal;
  }
  ::VariantClear(&name);
  return result;
}

// Calls visit(moniker, name) for every video input device until it returns true.
template <typename Visit>
HRESULT ForEachVideoInputDevice(Visit visit) {
  ComPtr<ICreateDevEnum> devices;
  HRESULT hr = ::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ICreateDevEnum, devices.put_void());
  if (FAILED(hr)) return hr;
  ComPtr<IEnumMoniker> monikers;
  hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.put(), 0);
  if (hr != S_OK) return FAILED(hr) ? hr : S_OK;  // S_FALSE: the category is empty
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, moniker.put(), nullptr) == S_OK) {
    if (visit(moniker.get(), FriendlyName(moniker.get()))) break;
  }
  return S_OK;
}

}  // namespace

HRESULT RegisterDevice(const std::wstring& library_path, std::wstring* error) {
  HRESULT hr = RegisterClass(library_path);
  if (FAILED(hr)) {
    *error = L"cannot register the COM class: " + ResultText(hr);
    return hr;
  }
  ComPtr<IFilterMapper2> mapper;
  hr = CreateMapper(&mapper);
  if (FAILED(hr)) {
    *error = L"cannot create the filter mapper: " + ResultText(hr);
    return hr;
  }
  REGPINTYPES type = {&MEDIATYPE_Video, &MEDIASUBTYPE_NULL};
  REGFILTERPINS2 pin{};
  pin.dwFlags = REG_PINFLAG_B_OUTPUT;
  pin.cInstances = 1;
  pin.nMediaTypes = 1;
  pin.lpMediaType = &type;
  pin.clsPinCategory = &PIN_CATEGORY_CAPTURE;
  REGFILTER2 filter{};
  filter.dwVersion = 2;
  filter.dwMerit = MERIT_DO_NOT_USE;
  filter.cPins2 = 1;
  filter.rgPins2 = &pin;
  hr = mapper->RegisterFilter(kDesktopSourceClass, kDeviceName, nullptr,
                              &CLSID_VideoInputDeviceCategory, nullptr, &filter);
  if (FAILED(hr)) {
    *error = L"cannot register the video input device: " + ResultText(hr);
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKeyPath().c_str());
  }
  return hr;
}

HRESULT UnregisterDevice(std::wstring* error) {
  bool found = false;
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CreateMapper(&mapper);
  if (FAILED(hr)) {
    *error = L"cannot create the filter mapper: " + ResultText(hr);
    return hr;
  }
  if (SUCCEEDED(mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, nullptr, kDesktopSourceClass))) {
    found = true;
  }
  LONG status = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKeyPath().c_str());
  if (status == ERROR_SUCCESS) {
    found = true;
  } else if (status != ERROR_FILE_NOT_FOUND) {
    *error = L"cannot remove the COM class: " + SystemMessage(static_cast<DWORD>(status));
    return HRESULT_FROM_WIN32(status);
  }
  return found ? S_OK : S_FALSE;
}

HRESULT ListVideoInputDevices(std::vector<std::wstring>* names) {
  names->clear();
  return ForEachVideoInputDevice([names](IMoniker*, const std::wstring& name) {
    names->push_back(name);
    return false;
  });
}

HRESULT CreateVideoInputDevice(const std::wstring& name, ComPtr<IBaseFilter>* filter) {
  HRESULT bound = VFW_E_NOT_FOUND;
  HRESULT hr = ForEachVideoInputDevice([&](IMoniker* moniker, const std::wstring& friendly) {
    if (friendly != name) return false;
    bound = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter->put_void());
    return true;
  });
  return FAILED(hr) ? hr : bound;
}
