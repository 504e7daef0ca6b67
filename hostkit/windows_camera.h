#pragma once
// Windows 11's camera for a device: a Media Foundation camera, made with MFCreateVirtualCamera,
// whose frames come from the library's media source (camera_link::CLSID_DorvantelCamera) fed
// by the feed program. One camera per device (preset) at most, named as the device.
//
// How it is made: MFCreateVirtualCamera is looked up at run time in mfsensorgroup.dll, from
// the system folder (Windows 10 and Wine have no such export, and a static import would keep
// the programs from starting there). The environment variable DORVANTEL_MFSENSORGROUP, when
// set, names the library to load instead: the tests' recording stand-in, or a path that does
// not exist for a system without one.
//
// The camera has the System lifetime (it stays when the program that made it exits, which the
// Session lifetime would not) and CurrentUser access (every user turns on their own; AllUsers
// would need administrator rights), the category KSCATEGORY_VIDEO_CAMERA alone (programs of
// Media Foundation list it; DirectShow programs keep the filter's device and get no second one).
// Its friendly name is the device's, its source the media source's class, and the attribute
// camera_link::DORVANTEL_CAMERA_PRESET tells the source which device it shows.
//
// What was made is recorded under HKCU\Software\Dorvantel\Windows cameras\NAME with the
// parameters it was made with: the platform identifies a camera by those parameters and has no
// call that asks whether one exists without creating it, so the record is how a camera is
// found again (status), re-opened (off) and found at all (off for every device). The feed
// program starts at logon from a value "Dorvantel feed: NAME" of
// HKCU\Software\Microsoft\Windows\CurrentVersion\Run.

#include <windows.h>

#include <string>
#include <vector>

namespace dorvantel {

// The one line where the platform has no Windows cameras.
inline constexpr wchar_t kNoWindowsCameras[] =
    L"Windows cameras need Windows 11 (build 22000 or later); this system has none: DirectShow programs still see "
    L"the device";
// What the calls below fail with where the platform has none (the missing export's code).
inline constexpr HRESULT kNoCameraPlatform = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);

// Whether mfsensorgroup.dll (or the stand-in) exports MFCreateVirtualCamera here.
bool WindowsCamerasAvailable();

// Whether the device's camera is on (this user's record of it); false also where unavailable.
bool WindowsCameraOn(const std::wstring& name);
// "Windows camera: on", "Windows camera: off" or "Windows camera: not available on this system".
std::wstring WindowsCameraLine(const std::wstring& name);

// Makes and starts the device's camera (again, when it is on: the platform re-opens it), records
// it, adds the feed to the logon programs and starts the feed, feedProgram. Nothing stays
// changed when a step fails: a camera made is removed again. kNoCameraPlatform where there are
// no Windows cameras. The caller has checked that name is a device of ours.
HRESULT TurnWindowsCameraOn(const std::wstring& name, const std::wstring& feedProgram, std::wstring* error);
// Re-opens the recorded camera with its parameters and removes it, then its logon entry and the
// record, and ends its feed in this session (the feed whose window is titled "Dorvantel feed:
// NAME", or every feed once no camera is left on). S_FALSE when no camera of that name is on.
HRESULT TurnWindowsCameraOff(const std::wstring& name, std::wstring* error);
// A device renamed: its camera is removed under the old name and made under the new one (the
// platform names a camera once, when it is made). The error says which step failed.
HRESULT RenameWindowsCamera(const std::wstring& from, const std::wstring& to, const std::wstring& feedProgram,
                            std::wstring* error);
// The names of the devices whose cameras are on (recorded), in the registry's order.
std::vector<std::wstring> WindowsCamerasOn();

// The logon entry of the device's feed: the value's name, and the command it holds.
std::wstring FeedRunValueName(const std::wstring& name);
std::wstring FeedCommandLine(const std::wstring& feedProgram, const std::wstring& name);

}  // namespace dorvantel
