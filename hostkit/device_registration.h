#pragma once
// Registers the desktop source for hosts that look for capture devices: as a COM class
// (InprocServer32 with the library's full path, ThreadingModel "Both") and as devices of
// the video input device category, which the system device enumerator lists: "Dorvantel"
// and any number of presets, each a device of its own name whose registry key holds the
// filter's settings beside FriendlyName, CLSID and FilterData (binding the device loads them
// into the filter). A device is a key under the category's Instance key, written here as the
// filter mapper lays it out (the mapper itself is not used: Wine's faults on long names).
// A 32-bit process registers in the 32-bit registry view, a 64-bit one in the 64-bit view.
// Devices of other programs (another CLSID) are never written or removed.
// COM must be initialised on the calling thread.

#include <windows.h>
#include <dshow.h>

#include <cstdint>
#include <string>
#include <vector>

#include "preset/preset.h"

namespace dorvantel {

// The longest device name every tool accepts: the name is also the device's registry key,
// and hosts copy it into their own buffers.
constexpr size_t kMaxDeviceName = 64;

// Why a name cannot be registered: it belongs to another program's device.
constexpr HRESULT kNameOfAnotherProgram = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);

// Registers (again, with only these values: StoredValues of its preset) the device of that
// name. Refused with kNameOfAnotherProgram, nothing written, when another program's device
// has that key or friendly name.
HRESULT RegisterDevice(const std::wstring& libraryPath, const std::wstring& name,
                       const std::vector<PresetValue>& values, std::wstring* error);
// Removes the device of that name, or every device of the desktop source when name is
// empty (half-registered ones included); the COM class goes with the last one. S_FALSE when
// nothing was registered; kNameOfAnotherProgram when the name is another program's device.
HRESULT UnregisterDevice(const std::wstring& name, std::wstring* error);

struct VideoInputDevice {
  std::wstring name;
  bool desktopSource = false;       // a device of this filter (the plain one or a preset)
  std::vector<PresetValue> stored;  // the settings a device of the desktop source stores
};
// The video input devices that the system device enumerator lists.
HRESULT ListVideoInputDevices(std::vector<VideoInputDevice>* devices);

// A device's key under the category as the registry holds it, whatever state it is in.
struct DeviceKey {
  std::wstring key;           // the key's name (the instance)
  std::wstring friendlyName;  // empty when the key holds none
  std::wstring clsid;         // as stored; empty when none
  bool ours = false;          // its CLSID is the desktop source's
};
// Every key under the video input category's Instance key of this process's view.
HRESULT ReadDeviceKeys(std::vector<DeviceKey>* keys);
// The device the enumerator lists for a key (by its friendly name), or null.
const VideoInputDevice* FindListed(const std::vector<VideoInputDevice>& devices, const DeviceKey& key);
// Why the enumerator lists no device for a key, in words for the user.
std::wstring UnlistedReason(const DeviceKey& key);
// The key that stands for the device name (the class's own for "Dorvantel").
std::wstring DeviceKeyName(const std::wstring& name);
// Whether two names are one registry key (keys are named without regard to case): a device
// renamed to the other is written over, not registered beside it.
bool SameDeviceKey(const std::wstring& name, const std::wstring& other);

// The category's FilterData for the desktop source (one capture output pin of video), in the
// layout the filter mapper writes.
std::vector<uint8_t> DeviceFilterData();

// An empty text when name can be a device's name, else why not (it is also the device's
// registry key).
std::wstring CheckDeviceName(const std::wstring& name);

}  // namespace dorvantel
