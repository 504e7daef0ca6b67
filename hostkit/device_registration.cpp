#include "hostkit/device_registration.h"

#include "hostkit/devices.h"
#include "hostkit/result_text.h"
#include "module/dorvantel.h"
#include "base/handles.h"

namespace dorvantel {

namespace {

namespace Key = SourceProperty;

std::wstring ClassText(const CLSID& classId = CLSID_DesktopSource) {
  wchar_t clsid[40];
  ::StringFromGUID2(classId, clsid, 40);
  return clsid;
}

std::wstring ClassKeyPath(const CLSID& classId = CLSID_DesktopSource) { return L"CLSID\\" + ClassText(classId); }

LONG SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// The library's COM classes: the filter and its property page, served alike.
struct ComClass {
  const CLSID* classId;
  const wchar_t* name;
};
const ComClass kComClasses[] = {{&CLSID_DesktopSource, DesktopSourceName},
                                {&CLSID_DesktopSourcePage, DesktopSourcePageName}};

HRESULT RegisterComClass(const std::wstring& libraryPath) {
  LONG status = ERROR_SUCCESS;
  for (const ComClass& com : kComClasses) {
    RegistryKey classKey, serverKey;
    status = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, ClassKeyPath(*com.classId).c_str(), 0, nullptr, 0, KEY_WRITE,
                               nullptr, classKey.put(), nullptr);
    if (status == ERROR_SUCCESS) status = SetString(classKey.get(), nullptr, com.name);
    if (status == ERROR_SUCCESS) {
      status = ::RegCreateKeyExW(classKey.get(), L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr,
                                 serverKey.put(), nullptr);
    }
    if (status == ERROR_SUCCESS) status = SetString(serverKey.get(), nullptr, libraryPath);
    if (status == ERROR_SUCCESS) status = SetString(serverKey.get(), L"ThreadingModel", L"Both");
    if (status != ERROR_SUCCESS) break;
  }
  return HRESULT_FROM_WIN32(status);
}

// Removes the classes' keys: ERROR_SUCCESS when one was there, ERROR_FILE_NOT_FOUND when none was.
LONG UnregisterComClasses() {
  LONG result = ERROR_FILE_NOT_FOUND;
  for (const ComClass& com : kComClasses) {
    const LONG status = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKeyPath(*com.classId).c_str());
    if (status == ERROR_SUCCESS) {
      if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
    } else if (status != ERROR_FILE_NOT_FOUND) {
      result = status;
    }
  }
  return result;
}

HRESULT CreateMapper(ComPtr<IFilterMapper2>* mapper) {
  return ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2, mapper->put_void());
}

// A number (VT_I4, a DWORD in the registry) or a text (a BSTR) the device's key stores under key;
// false when it stores none, or a value of another type or an empty text.
bool ReadStoredValue(IPropertyBag* bag, const wchar_t* key, PresetValue* stored) {
  VARIANT value;
  ::VariantInit(&value);
  bool found = false;
  if (bag->Read(key, &value, nullptr) == S_OK) {
    if (value.vt == VT_I4) {
      *stored = PresetValue{key, false, value.lVal, {}};
      found = true;
    } else if (value.vt == VT_BSTR && value.bstrVal && value.bstrVal[0]) {
      *stored = PresetValue{key, true, 0, value.bstrVal};
      found = true;
    }
  }
  ::VariantClear(&value);
  return found;
}

// The filter's keys a preset may hold, as list prints them.
const wchar_t* const kPresetKeys[] = {Key::CaptureArea,       Key::CaptureValue,
                                      Key::WindowTitle,       Key::FrameRate,
                                      Key::FrameRateMode,     Key::OutputDimensions,
                                      Key::InterpolationMode, Key::OutputFormat,
                                      Key::IncludeCursor,     Key::CaptureTransparentWindows,
                                      Key::FramePacing};

// The device key's instance name: the class's own for "Dorvantel", as it always was, else the name.
const wchar_t* InstanceOf(const std::wstring& name) { return name == DesktopSourceName ? nullptr : name.c_str(); }

HRESULT WriteValue(IPropertyBag* bag, const PresetValue& preset) {
  VARIANT value;
  ::VariantInit(&value);
  if (preset.isText) {
    value.vt = VT_BSTR;
    value.bstrVal = ::SysAllocString(preset.text.c_str());
    if (!value.bstrVal) return E_OUTOFMEMORY;
  } else {
    value.vt = VT_I4;
    value.lVal = preset.number;
  }
  HRESULT hr = bag->Write(preset.key.c_str(), &value);
  ::VariantClear(&value);
  return hr;
}

bool IsDesktopSource(IPropertyBag* bag) {
  return _wcsicmp(ReadDeviceText(bag, L"CLSID").c_str(), ClassText().c_str()) == 0;
}

size_t CountDesktopSourceDevices() {
  size_t count = 0;
  ForEachVideoInputDevice([&count](IMoniker*, IPropertyBag* bag, const std::wstring&) {
    if (IsDesktopSource(bag)) ++count;
    return false;
  });
  return count;
}

}  // namespace

HRESULT RegisterDevice(const std::wstring& libraryPath, const std::wstring& name,
                       const std::vector<PresetValue>& values, std::wstring* error) {
  HRESULT hr = RegisterComClass(libraryPath);
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
  // Registered anew: nothing of an earlier preset of that name stays.
  mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, InstanceOf(name), CLSID_DesktopSource);
  ComPtr<IMoniker> device;
  hr = mapper->RegisterFilter(CLSID_DesktopSource, name.c_str(), device.put(), &CLSID_VideoInputDeviceCategory,
                              InstanceOf(name), &filter);
  if (FAILED(hr)) {
    *error = L"cannot register the video input device: " + ResultText(hr);
  } else if (!values.empty()) {
    ComPtr<IPropertyBag> bag;
    hr = device ? device->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.put_void()) : E_POINTER;
    for (size_t i = 0; SUCCEEDED(hr) && i < values.size(); ++i) hr = WriteValue(bag.get(), values[i]);
    if (FAILED(hr)) {
      *error = L"cannot store the settings of the video input device: " + ResultText(hr);
      mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, InstanceOf(name), CLSID_DesktopSource);
    }
  }
  // The class stays while another device of it is registered.
  if (FAILED(hr) && CountDesktopSourceDevices() == 0) UnregisterComClasses();
  return hr;
}

HRESULT UnregisterDevice(const std::wstring& name, std::wstring* error) {
  bool found = false;
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CreateMapper(&mapper);
  if (FAILED(hr)) {
    *error = L"cannot create the filter mapper: " + ResultText(hr);
    return hr;
  }
  std::vector<std::wstring> ours;  // the desktop source's devices
  ForEachVideoInputDevice([&ours](IMoniker*, IPropertyBag* bag, const std::wstring& friendly) {
    if (IsDesktopSource(bag)) ours.push_back(friendly);
    return false;
  });
  size_t left = ours.size();
  for (const std::wstring& device : ours) {
    if (!name.empty() && device != name) continue;
    if (SUCCEEDED(mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, InstanceOf(device), CLSID_DesktopSource))) {
      found = true;
      --left;
    }
  }
  if (left > 0) return found ? S_OK : S_FALSE;
  const LONG status = UnregisterComClasses();
  if (status == ERROR_SUCCESS) {
    found = true;
  } else if (status != ERROR_FILE_NOT_FOUND) {
    *error = L"cannot remove the COM class: " + SystemMessage(static_cast<DWORD>(status));
    return HRESULT_FROM_WIN32(status);
  }
  return found ? S_OK : S_FALSE;
}

HRESULT ListVideoInputDevices(std::vector<VideoInputDevice>* devices) {
  devices->clear();
  return ForEachVideoInputDevice([devices](IMoniker*, IPropertyBag* bag, const std::wstring& name) {
    VideoInputDevice device{name, IsDesktopSource(bag), {}};
    if (device.desktopSource) {
      for (const wchar_t* key : kPresetKeys) {
        PresetValue value;
        if (ReadStoredValue(bag, key, &value)) device.stored.push_back(value);
      }
    }
    devices->push_back(device);
    return false;
  });
}

std::wstring CheckDeviceName(const std::wstring& name) {
  if (name.empty()) return L"a device needs a name";
  if (name.find(L'\\') != std::wstring::npos) return L"a device name cannot hold a backslash";
  return {};
}

}  // namespace dorvantel
