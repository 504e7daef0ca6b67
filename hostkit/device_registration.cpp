#include "hostkit/device_registration.h"

#include "hostkit/devices.h"
#include "hostkit/result_text.h"
#include "module/dorvantel.h"
#include "base/handles.h"

namespace dorvantel {

namespace {

namespace Key = SourceProperty;

std::wstring ClassText() {
  wchar_t clsid[40];
  ::StringFromGUID2(CLSID_DesktopSource, clsid, 40);
  return clsid;
}

std::wstring ClassKeyPath() { return L"CLSID\\" + ClassText(); }

LONG SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

HRESULT RegisterComClass(const std::wstring& libraryPath) {
  RegistryKey classKey, serverKey;
  LONG status = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, ClassKeyPath().c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                  classKey.put(), nullptr);
  if (status == ERROR_SUCCESS) status = SetString(classKey.get(), nullptr, DesktopSourceName);
  if (status == ERROR_SUCCESS) {
    status = ::RegCreateKeyExW(classKey.get(), L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, serverKey.put(),
                               nullptr);
  }
  if (status == ERROR_SUCCESS) status = SetString(serverKey.get(), nullptr, libraryPath);
  if (status == ERROR_SUCCESS) status = SetString(serverKey.get(), L"ThreadingModel", L"Both");
  return HRESULT_FROM_WIN32(status);
}

HRESULT CreateMapper(ComPtr<IFilterMapper2>* mapper) {
  return ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2, mapper->put_void());
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

std::vector<PresetValue> PresetValues(const RecorderOptions& options) {
  std::vector<PresetValue> values;
  auto number = [&values](const wchar_t* key, LONG value) { values.push_back(PresetValue{key, false, value, {}}); };
  auto text = [&values](const wchar_t* key, const std::wstring& value) {
    values.push_back(PresetValue{key, true, 0, value});
  };
  const RECT& r = options.rectangle;
  const std::wstring corners = std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L"," +
                               std::to_wstring(r.right) + L"," + std::to_wstring(r.bottom);
  if (options.target == CaptureTarget::Window) {
    number(Key::CaptureArea, kAreaWindowRectangle);
    text(Key::WindowTitle, options.windowTitle);
    if (options.hasRectangle) text(Key::CaptureValue, corners);
  } else if (options.target == CaptureTarget::Rectangle) {
    number(Key::CaptureArea, kAreaScreenRectangle);
    text(Key::CaptureValue, corners);
  } else if (options.target == CaptureTarget::Monitor) {
    number(Key::CaptureArea, kAreaMonitor);
    number(Key::CaptureValue, options.monitor);
  } else if (options.target == CaptureTarget::Desktop) {
    number(Key::CaptureArea, kAreaDesktop);
  }
  if (options.rateGiven) number(Key::FrameRate, options.frameRate);
  if (options.rateModeGiven) number(Key::FrameRateMode, options.frameRateMode);
  if (options.scaled) {
    text(Key::OutputDimensions, std::to_wstring(options.outputWidth) + L"x" + std::to_wstring(options.outputHeight));
  }
  if (options.interpolationGiven) number(Key::InterpolationMode, options.interpolation);
  if (options.formatGiven) text(Key::OutputFormat, DescribePixelFormat(options.pixels).name);
  if (options.cursorGiven) number(Key::IncludeCursor, options.cursor ? 1 : 0);
  if (options.layeredWindows) number(Key::CaptureTransparentWindows, 1);
  // The device without options scales with the filter's own scaler when a host that binds it
  // by name asks for another size; what a preset does not name keeps the filter's default.
  if (values.empty()) number(Key::InterpolationMode, kInterpolationFast);
  return values;
}

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
  if (FAILED(hr) && CountDesktopSourceDevices() == 0) ::RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKeyPath().c_str());
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
  LONG status = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKeyPath().c_str());
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
        const std::wstring value = ReadDeviceText(bag, key);
        if (!value.empty()) device.settings.push_back(std::wstring(key) + L"=" + value);
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

std::vector<std::wstring> PresetArguments(const std::vector<std::wstring>& settings) {
  auto stored = [&settings](const wchar_t* key) -> const std::wstring* {
    const std::wstring prefix = std::wstring(key) + L"=";
    for (const std::wstring& setting : settings) {
      if (setting.compare(0, prefix.size(), prefix) == 0) return &setting;
    }
    return nullptr;
  };
  auto value = [&stored](const wchar_t* key) {
    const std::wstring* setting = stored(key);
    return setting ? setting->substr(wcslen(key) + 1) : std::wstring();
  };
  std::vector<std::wstring> args;
  const std::wstring area = value(Key::CaptureArea);
  const std::wstring corners = value(Key::CaptureValue);
  if (area == std::to_wstring(kAreaWindowRectangle) || area == std::to_wstring(kAreaWindow)) {
    args.insert(args.end(), {L"--window", value(Key::WindowTitle)});
  }
  if (area == std::to_wstring(kAreaMonitor)) {
    args.insert(args.end(), {L"--monitor", corners});
  } else if (area == std::to_wstring(kAreaDesktop)) {
    args.push_back(L"--desktop");
  } else if (!corners.empty() && area != std::to_wstring(kAreaDisplay)) {
    // Stored as LEFT,TOP,RIGHT,BOTTOM; the option takes X,Y,WIDTH,HEIGHT.
    long c[4] = {};
    if (swscanf(corners.c_str(), L"%ld,%ld,%ld,%ld", &c[0], &c[1], &c[2], &c[3]) == 4) {
      args.insert(args.end(), {L"--rect", std::to_wstring(c[0]) + L"," + std::to_wstring(c[1]) + L"," +
                                              std::to_wstring(c[2] - c[0]) + L"," + std::to_wstring(c[3] - c[1])});
    }
  }
  const struct {
    const wchar_t* key;
    const wchar_t* option;
  } plain[] = {{Key::FrameRate, L"--rate"},
               {Key::FrameRateMode, L"--rate-mode"},
               {Key::OutputDimensions, L"--size"},
               {Key::InterpolationMode, L"--interpolation"},
               {Key::OutputFormat, L"--format"}};
  for (const auto& setting : plain) {
    if (!stored(setting.key)) continue;
    std::wstring text = value(setting.key);
    // The options take the filter's own scaler by its name only.
    if (setting.key == Key::InterpolationMode && text == std::to_wstring(kInterpolationFast)) text = L"fast";
    args.insert(args.end(), {setting.option, text});
  }
  if (stored(Key::IncludeCursor)) args.push_back(value(Key::IncludeCursor) == L"0" ? L"--no-cursor" : L"--cursor");
  if (value(Key::CaptureTransparentWindows) == L"1") args.push_back(L"--layered");
  return args;
}

std::wstring PresetSummary(const RecorderOptions& options) {
  const RECT& r = options.rectangle;
  const std::wstring region = std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L" " +
                              std::to_wstring(r.right - r.left) + L"x" + std::to_wstring(r.bottom - r.top);
  std::wstring text;
  switch (options.target) {
    case CaptureTarget::Display: text = L"whole display"; break;
    case CaptureTarget::Rectangle: text = L"region " + region; break;
    case CaptureTarget::Monitor: text = L"monitor " + std::to_wstring(options.monitor); break;
    case CaptureTarget::Desktop: text = L"whole desktop"; break;
    case CaptureTarget::Window:
      text = L"window \"" + options.windowTitle + L"\"";
      if (options.hasRectangle) text += L", its region " + region;
      break;
  }
  text += L"; " + std::to_wstring(options.frameRate) + L" fps";
  if (options.scaled) {
    text += L"; scaled to " + std::to_wstring(options.outputWidth) + L"x" + std::to_wstring(options.outputHeight);
    if (options.interpolationGiven) {
      text += options.interpolation == kInterpolationFast ? L" (fast)"
              : options.interpolation == 7                ? L" (quality)"
                                           : L" (GDI+ mode " + std::to_wstring(options.interpolation) + L")";
    }
  }
  if (options.formatGiven) text += std::wstring(L"; ") + DescribePixelFormat(options.pixels).name;
  if (options.rateModeGiven && options.frameRateMode != 0) text += L"; stamps by grab time";
  text += options.cursorGiven && options.cursor ? L"; cursor" : L"; no cursor";
  if (options.layeredWindows) text += L"; layered windows";
  return text;
}

}  // namespace dorvantel
