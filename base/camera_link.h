#pragma once
// The names that the Windows 11 camera's three parties share: the media source in the
// library (loaded by the Frame Server, session 0, LocalService), the feed program that
// captures in the user's session and publishes frames, and the control code that creates the
// camera and starts the feed. Names only: no code of either side.
//
// Who creates the frame section (base/frame_ring.h): both sides try to create it and open it
// when it is there, so that either may start first.
// - The feed, unelevated in the user's session, may create a Global\ section only with
//   SeCreateGlobalPrivilege (administrators, services); without it the creation is refused and
//   it opens the section the source made. Where the global namespace cannot be created or
//   opened at all (tests under Wine, a user-session test host) it uses the local one.
// - The source, a service, may always create Global\ objects.
// Whoever creates it sets the DACL: SYSTEM, LOCAL SERVICE and the creator's token user get
// full access, nobody else; a creator that is itself LOCAL SERVICE or SYSTEM (the source) grants
// the interactive users (S-1-5-4) instead of its own user, since it does not know which user's
// feed will write.

#include <windows.h>

#include <string>

namespace camera_link {

// The media source's class, registered in HKLM with ThreadingModel Both beside the filter;
// its factory hands out an IMFActivate. kCameraClsidText is the sourceId of
// MFCreateVirtualCamera.
inline constexpr CLSID CLSID_DorvantelCamera = {
    0xf2cc9c80, 0x1de3, 0x4d6b, {0x90, 0x0e, 0xf8, 0x9a, 0x42, 0x9c, 0x3e, 0x68}};
inline constexpr wchar_t kCameraClsidText[] = L"{F2CC9C80-1DE3-4D6B-900E-F89A429C3E68}";
// The class's name in the registry.
inline constexpr wchar_t kCameraClassName[] = L"Dorvantel camera";

// A string attribute (IMFAttributes::SetString) naming the preset (the device) a camera
// shows. The control code sets it on its IMFVirtualCamera; it reaches the activate object's
// store and the source reads it there. Missing or empty: kDefaultPreset.
// {6B1F3E0A-94C2-4E57-A1D8-3C0E5B7A2F41}
inline constexpr GUID DORVANTEL_CAMERA_PRESET = {
    0x6b1f3e0a, 0x94c2, 0x4e57, {0xa1, 0xd8, 0x3c, 0x0e, 0x5b, 0x7a, 0x2f, 0x41}};
inline constexpr wchar_t kDefaultPreset[] = L"Dorvantel";

// The feed program beside the library, and its arguments: dorvantel-feed.exe --name PRESET
// [--seconds N]. Without --name it feeds kDefaultPreset; --seconds ends it after N seconds.
inline constexpr wchar_t kFeedProgram[] = L"dorvantel-feed.exe";
inline constexpr wchar_t kFeedNameOption[] = L"--name";
inline constexpr wchar_t kFeedSecondsOption[] = L"--seconds";

// Where a section's name lives: Global\ for the camera; Local\ where the global namespace is
// out of reach (tests, Wine without the privilege).
enum class Namespace { Global, Local };

// The frame section of a preset: "Global\Dorvantel.Frames." + the preset's name. Preset names
// hold no backslash (the preset model refuses them), so the name is always a valid object name.
inline std::wstring FrameSectionName(const std::wstring& preset, Namespace where = Namespace::Global) {
  std::wstring name = where == Namespace::Global ? L"Global\\" : L"Local\\";
  name += L"Dorvantel.Frames.";
  name += preset.empty() ? std::wstring(kDefaultPreset) : preset;
  return name;
}

// The title of the feed's hidden window, by which the control code finds the feed of a preset
// in its session and ends it (WM_CLOSE): "Dorvantel feed: " + the preset's name.
inline std::wstring FeedWindowTitle(const std::wstring& preset) {
  return L"Dorvantel feed: " + (preset.empty() ? std::wstring(kDefaultPreset) : preset);
}

// The mutex a feed holds while it runs for a preset, so that a second feed for the same preset
// sees the first and exits: "Local\Dorvantel.Feed." + the preset's name (per session: each
// user's feed is its own).
inline std::wstring FeedMutexName(const std::wstring& preset) {
  return L"Local\\Dorvantel.Feed." + (preset.empty() ? std::wstring(kDefaultPreset) : preset);
}

}  // namespace camera_link
