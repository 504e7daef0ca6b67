#pragma once
// The desktop source's capture devices as the settings program keeps them. A device is
// saved and removed in the registry view of every installed bitness, so that 32-bit and
// 64-bit hosts both find it: this program's own view through the register tool's code
// (hostkit/device_registration.h), the other view by the register tool of the other
// bitness, run with the preset as its capture options from the folder beside this program's
// (..\32-bit or ..\64-bit as installed, ..\win32 or ..\win64 in the build). Both check the
// preset with the same checks: what one saves, the other accepts.

#include <windows.h>

#include <string>
#include <vector>

#include "hostkit/other_tool.h"  // OtherRegisterTool, QuoteArgument
#include "preset/preset.h"

namespace dorvantel {

struct StoredDevice {
  std::wstring name;
  Preset preset;         // as much of the stored settings as could be read
  std::wstring summary;  // one line for the device list
};

// What a save or a removal came to, for the window that shows it.
struct StoreOutcome {
  HRESULT result = S_OK;
  std::wstring done;   // which hosts find the device now
  std::wstring error;  // one line when it failed
  std::wstring camera; // what became of the device's Windows camera, when it had one
};

// The devices of the desktop source that hosts of this bitness find, in the enumerator's order.
HRESULT ListStoredDevices(std::vector<StoredDevice>* devices);

// Registers the device name with this preset in every view (again: replacing what it held).
// The name and the preset are checked first; nothing is written when they fail.
// done: which hosts find it now ("64-bit and 32-bit hosts").
HRESULT SaveDevice(const std::wstring& name, const Preset& preset, std::wstring* done, std::wstring* error);
// Removes the device name from every view.
HRESULT DeleteDevice(const std::wstring& name, std::wstring* error);

// Why a device cannot be given name, as a field shows it ("A device of this name exists
// already"); empty when it can. original: the device's present name (empty for a new one);
// taken: the names of the devices there are.
std::wstring CheckNewName(const std::wstring& name, const std::wstring& original,
                          const std::vector<std::wstring>& taken);

}  // namespace dorvantel
