#pragma once
// Registers the desktop source for hosts that look for capture devices: as a COM class
// (InprocServer32 with the library's full path, ThreadingModel "Both") and as filters of
// the video input device category, which the system device enumerator lists: "Dorvantel"
// and any number of presets, each a device of its own name whose registry key holds the
// filter's settings beside FriendlyName and CLSID (binding the device loads them into the
// filter). A 32-bit process registers in the 32-bit registry view, a 64-bit one in the
// 64-bit view. COM must be initialised on the calling thread.

#include <windows.h>
#include <dshow.h>

#include <string>
#include <vector>

#include "preset/preset.h"

namespace dorvantel {

// Registers (again, with only these values: StoredValues of its preset) the device of that name.
HRESULT RegisterDevice(const std::wstring& libraryPath, const std::wstring& name,
                       const std::vector<PresetValue>& values, std::wstring* error);
// Removes the device of that name, or every device of the desktop source when name is
// empty; the COM class goes with the last one. S_FALSE when nothing was registered.
HRESULT UnregisterDevice(const std::wstring& name, std::wstring* error);

struct VideoInputDevice {
  std::wstring name;
  bool desktopSource = false;       // a device of this filter (the plain one or a preset)
  std::vector<PresetValue> stored;  // the settings a device of the desktop source stores
};
// The video input devices that the system device enumerator lists.
HRESULT ListVideoInputDevices(std::vector<VideoInputDevice>* devices);

// An empty text when name can be a device's name, else why not (it is also the device's
// registry key).
std::wstring CheckDeviceName(const std::wstring& name);

}  // namespace dorvantel
