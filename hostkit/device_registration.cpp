#include "hostkit/device_registration.h"

#include <cwctype>

#include "base/camera_link.h"

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

// The library's COM classes: the filter, its property page and the Windows 11 camera's media
// source (which the Frame Server's services load, so it must be machine-wide), served alike.
struct ComClass {
  const CLSID* classId;
  const wchar_t* name;
};
const ComClass kComClasses[] = {{&CLSID_DesktopSource, DesktopSourceName},
                                {&CLSID_DesktopSourcePage, DesktopSourcePageName},
                                {&camera_link::CLSID_DorvantelCamera, camera_link::kCameraClassName}};

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

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40];
  ::StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring InstancesPath() { return L"CLSID\\" + GuidText(CLSID_VideoInputDeviceCategory) + L"\\Instance"; }

bool SameName(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

std::wstring ReadKeyText(HKEY key, const wchar_t* value) {
  wchar_t text[1024];
  DWORD size = sizeof(text);
  if (::RegGetValueW(key, nullptr, value, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) return {};
  return text;
}

LONG WriteStored(HKEY key, const PresetValue& value) {
  if (value.isText) return SetString(key, value.key.c_str(), value.text);
  const DWORD number = static_cast<DWORD>(value.number);
  return ::RegSetValueExW(key, value.key.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
}

// Writes the device's key anew: its name, class, filter data and stored settings.
LONG WriteDeviceKey(const std::wstring& keyName, const std::wstring& name, const std::vector<PresetValue>& values) {
  RegistryKey key;
  LONG status = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, (InstancesPath() + L"\\" + keyName).c_str(), 0, nullptr, 0,
                                  KEY_WRITE, nullptr, key.put(), nullptr);
  if (status == ERROR_SUCCESS) status = SetString(key.get(), L"FriendlyName", name);
  if (status == ERROR_SUCCESS) status = SetString(key.get(), L"CLSID", ClassText());
  if (status == ERROR_SUCCESS) {
    const std::vector<uint8_t> data = DeviceFilterData();
    status = ::RegSetValueExW(key.get(), L"FilterData", 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
  }
  for (size_t i = 0; status == ERROR_SUCCESS && i < values.size(); ++i) status = WriteStored(key.get(), values[i]);
  return status;
}

LONG DeleteDeviceKey(const std::wstring& keyName) {
  LONG status = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (InstancesPath() + L"\\" + keyName).c_str());
  return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

std::wstring OtherDeviceText(const DeviceKey& other) {
  return L"another program's video capture device \"" + (other.friendlyName.empty() ? other.key : other.friendlyName) +
         L"\" (registry key \"" + other.key + L"\")";
}

// Another program's device whose key or friendly name is name's, or null.
const DeviceKey* OtherProgramsDevice(const std::vector<DeviceKey>& keys, const std::wstring& name) {
  const std::wstring keyName = DeviceKeyName(name);
  for (const DeviceKey& key : keys) {
    if (!key.ours && (SameName(key.key, keyName) || SameName(key.friendlyName, name))) return &key;
  }
  return nullptr;
}

size_t CountOurs(const std::vector<DeviceKey>& keys) {
  size_t count = 0;
  for (const DeviceKey& key : keys) count += key.ours ? 1 : 0;
  return count;
}

bool IsDesktopSource(IPropertyBag* bag) {
  return _wcsicmp(ReadDeviceText(bag, L"CLSID").c_str(), ClassText().c_str()) == 0;
}

}  // namespace

std::wstring DeviceKeyName(const std::wstring& name) { return name == DesktopSourceName ? ClassText() : name; }

bool SameDeviceKey(const std::wstring& name, const std::wstring& other) {
  return SameName(DeviceKeyName(name), DeviceKeyName(other));
}

std::vector<uint8_t> DeviceFilterData() {
  std::vector<uint8_t> data;
  const auto number = [&data](uint32_t value) {
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(value >> (8 * i)));
  };
  const auto tag = [&data](const char* text) { data.insert(data.end(), text, text + 4); };
  const auto guid = [&data](REFGUID value) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&value);
    data.insert(data.end(), bytes, bytes + sizeof(GUID));
  };
  constexpr uint32_t kHeader = 16, kPin = 28, kType = 16, kGuids = kHeader + kPin + kType;
  number(2);  // the layout's version
  number(MERIT_DO_NOT_USE);
  number(1);  // pins
  number(0);
  tag("0pi3");
  number(REG_PINFLAG_B_OUTPUT);
  number(1);       // instances
  number(1);       // media types
  number(0);       // mediums
  number(1);       // the pin has a category,
  number(kGuids);  // there
  tag("0ty3");
  number(0);
  number(kGuids + sizeof(GUID));      // major type
  number(kGuids + 2 * sizeof(GUID));  // subtype
  guid(PIN_CATEGORY_CAPTURE);
  guid(MEDIATYPE_Video);
  guid(MEDIASUBTYPE_NULL);
  return data;
}

HRESULT ReadDeviceKeys(std::vector<DeviceKey>* keys) {
  keys->clear();
  RegistryKey instances;
  LONG status = ::RegOpenKeyExW(HKEY_CLASSES_ROOT, InstancesPath().c_str(), 0, KEY_READ, instances.put());
  if (status == ERROR_FILE_NOT_FOUND) return S_OK;
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  const std::wstring ourClass = ClassText();
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];  // a key's name has at most 255 characters
    DWORD length = 256;
    status = ::RegEnumKeyExW(instances.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    RegistryKey device;
    DeviceKey key{name, {}, {}, false};
    if (::RegOpenKeyExW(instances.get(), name, 0, KEY_READ, device.put()) == ERROR_SUCCESS) {
      key.friendlyName = ReadKeyText(device.get(), L"FriendlyName");
      key.clsid = ReadKeyText(device.get(), L"CLSID");
      key.ours = SameName(key.clsid, ourClass);
    }
    keys->push_back(key);
  }
  return S_OK;
}

HRESULT RegisterDevice(const std::wstring& libraryPath, const std::wstring& name,
                       const std::vector<PresetValue>& values, std::wstring* error) {
  *error = CheckDeviceName(name);
  if (!error->empty()) return E_INVALIDARG;
  std::vector<DeviceKey> keys;
  HRESULT hr = ReadDeviceKeys(&keys);
  if (FAILED(hr)) {
    *error = L"cannot read the video capture devices: " + ResultText(hr);
    return hr;
  }
  if (const DeviceKey* other = OtherProgramsDevice(keys, name)) {
    *error = L"the name \"" + name + L"\" is taken by " + OtherDeviceText(*other) + L": choose another name";
    return kNameOfAnotherProgram;
  }
  hr = RegisterComClass(libraryPath);
  if (FAILED(hr)) {
    *error = L"cannot register the COM class: " + ResultText(hr);
    return hr;
  }
  // Registered anew: nothing of an earlier preset of that name stays.
  const std::wstring keyName = DeviceKeyName(name);
  LONG status = DeleteDeviceKey(keyName);
  if (status == ERROR_SUCCESS) status = WriteDeviceKey(keyName, name, values);
  if (status == ERROR_SUCCESS) return S_OK;
  *error = L"cannot register the video input device: " + SystemMessage(static_cast<DWORD>(status));
  DeleteDeviceKey(keyName);
  // The class stays while another device of it is registered.
  if (SUCCEEDED(ReadDeviceKeys(&keys)) && CountOurs(keys) == 0) UnregisterComClasses();
  return HRESULT_FROM_WIN32(status);
}

HRESULT UnregisterDevice(const std::wstring& name, std::wstring* error) {
  std::vector<DeviceKey> keys;
  HRESULT hr = ReadDeviceKeys(&keys);
  if (FAILED(hr)) {
    *error = L"cannot read the video capture devices: " + ResultText(hr);
    return hr;
  }
  const std::wstring keyName = name.empty() ? std::wstring() : DeviceKeyName(name);
  size_t left = CountOurs(keys), removed = 0;
  for (const DeviceKey& key : keys) {
    if (!key.ours) continue;
    // Keys are named without regard to case, as the registry does; names as hosts match them.
    if (!name.empty() && !SameName(key.key, keyName) && key.friendlyName != name) continue;
    const LONG status = DeleteDeviceKey(key.key);
    if (status != ERROR_SUCCESS) {
      *error =
          L"cannot remove the video capture device \"" + key.key + L"\": " + SystemMessage(static_cast<DWORD>(status));
      return HRESULT_FROM_WIN32(status);
    }
    ++removed;
    --left;
  }
  if (removed == 0 && !name.empty()) {
    if (const DeviceKey* other = OtherProgramsDevice(keys, name)) {
      *error = L"\"" + name + L"\" is " + OtherDeviceText(*other) + L", not one of Dorvantel's: left as it is";
      return kNameOfAnotherProgram;
    }
  }
  if (left > 0) return removed > 0 ? S_OK : S_FALSE;
  const LONG status = UnregisterComClasses();
  if (status == ERROR_SUCCESS) {
    ++removed;
  } else if (status != ERROR_FILE_NOT_FOUND) {
    *error = L"cannot remove the COM class: " + SystemMessage(static_cast<DWORD>(status));
    return HRESULT_FROM_WIN32(status);
  }
  return removed > 0 ? S_OK : S_FALSE;
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

const VideoInputDevice* FindListed(const std::vector<VideoInputDevice>& devices, const DeviceKey& key) {
  if (key.friendlyName.empty()) return nullptr;
  for (const VideoInputDevice& device : devices) {
    if (device.name == key.friendlyName && device.desktopSource == key.ours) return &device;
  }
  return nullptr;
}

std::wstring UnlistedReason(const DeviceKey& key) {
  if (key.friendlyName.empty())
    return L"its registry key \"" + key.key + L"\" has no name (it was left half-registered)";
  return L"the system's device enumerator skips its registry key \"" + key.key + L"\"";
}

std::wstring CheckDeviceName(const std::wstring& name) {
  if (name.empty()) return L"a device needs a name";
  if (name.size() > kMaxDeviceName) {
    return L"a device name has at most " + std::to_wstring(kMaxDeviceName) + L" characters (this one has " +
           std::to_wstring(name.size()) + L")";
  }
  if (name.find(L'\\') != std::wstring::npos) return L"a device name cannot hold a backslash";
  // Hosts list names as they are: "Dorvantel " would show as a second "Dorvantel".
  if (std::iswspace(name.front()) || std::iswspace(name.back())) {
    return L"a device name cannot begin or end with a space";
  }
  for (wchar_t c : name) {
    if (c < L' ') return L"a device name cannot hold a line break, a tab or another control character";
  }
  return {};
}

}  // namespace dorvantel
