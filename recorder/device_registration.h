#pragma once
// Registers the desktop source for hosts that look for capture devices: as a COM class
// (InprocServer32 with the library's full path, ThreadingModel "Both") and as a filter of
// the video input device category named "Dorvantel", which the system device enumerator
// lists. A 32-bit process registers in the 32-bit registry view, a 64-bit one in the
// 64-bit view. COM must be initialised on the calling thread.

#include <windows.h>
#include <dshow.h>

#include <string>
#include <vector>

#include "framework/com_ptr.h"

HRESULT RegisterDevice(const std::wstring& library_path, std::wstring* error);
// S_FALSE when nothing was registered.
HRESULT UnregisterDevice(std::wstring* error);

// The friendly names of the video input devices that the system device enumerator lists.
HRESULT ListVideoInputDevices(std::vector<std::wstring>* names);
// Binds the video input device of that friendly name to its filter; VFW_E_NOT_FOUND when
// no device has it.
HRESULT CreateVideoInputDevice(const std::wstring& name, ComPtr<IBaseFilter>* filter);
