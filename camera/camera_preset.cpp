#include "camera/camera_preset.h"

#include <cwchar>

#include "base/handles.h"

namespace camera {

namespace {

// CLSID_VideoInputDeviceCategory's devices.
constexpr wchar_t kDevices[] = L"SOFTWARE\\Classes\\CLSID\\{860BB310-5D01-11d0-BD3B-00A0C911CE86}\\Instance";

std::wstring ReadText(HKEY key, const wchar_t* name) {
  wchar_t text[256];
  DWORD size = sizeof text;
  if (::RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) return {};
  return text;
}

}  // namespace

CameraFormat ReadCameraFormat(const std::wstring& preset) {
  CameraFormat format;
  RegistryKey devices;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDevices, 0, KEY_READ, devices.put()) != ERROR_SUCCESS) return format;
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = 256;
    if (::RegEnumKeyExW(devices.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    RegistryKey device;
    if (::RegOpenKeyExW(devices.get(), name, 0, KEY_READ, device.put()) != ERROR_SUCCESS) continue;
    if (_wcsicmp(ReadText(device.get(), L"FriendlyName").c_str(), preset.c_str()) != 0) continue;
    DWORD rate = 0, size = sizeof rate;
    if (::RegGetValueW(device.get(), nullptr, L"FrameRate", RRF_RT_REG_DWORD, nullptr, &rate, &size) == ERROR_SUCCESS &&
        rate >= 1 && rate <= kMaxCameraRate)
      format.rate = rate;
    unsigned width = 0, height = 0;
    wchar_t rest = 0;
    const std::wstring dimensions = ReadText(device.get(), L"OutputDimensions");
    if (std::swscanf(dimensions.c_str(), L"%ux%u%lc", &width, &height, &rest) == 2 && width >= 2 &&
        width <= kMaxCameraSide && height >= 2 && height <= kMaxCameraSide) {
      format.width = width;
      format.height = height;
    }
    break;
  }
  return format;
}

}  // namespace camera
