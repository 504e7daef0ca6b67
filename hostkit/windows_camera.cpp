#include "hostkit/windows_camera.h"

#include "base/camera_link.h"
#include "base/com_ptr.h"
#include "base/command_line.h"
#include "base/handles.h"
#include "hostkit/mf_virtual_camera.h"
#include "hostkit/result_text.h"

namespace dorvantel {

namespace {

constexpr wchar_t kRecords[] = L"Software\\Dorvantel\\Windows cameras";
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// KSCATEGORY_VIDEO_CAMERA {E5323777-F976-4F5B-9B55-B94699C46E44}: Media Foundation's cameras.
constexpr GUID kVideoCameraCategory = {0xe5323777, 0xf976, 0x4f5b, {0x9b, 0x55, 0xb9, 0x46, 0x99, 0xc4, 0x6e, 0x44}};

// Media Foundation started (MFStartup) for the object's life, found at run time in mfplat.dll:
// the camera calls are Media Foundation's. Nothing where the platform has no Media Foundation.
class MediaFoundationSession {
 public:
  MediaFoundationSession() {
    library_.reset(::LoadLibraryExW(L"mfplat.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!library_) return;
    using StartupFunction = HRESULT(WINAPI*)(ULONG, DWORD);
    auto startup = reinterpret_cast<StartupFunction>(reinterpret_cast<void*>(::GetProcAddress(library_.get(), "MFStartup")));
    shutdown_ = reinterpret_cast<ShutdownFunction>(reinterpret_cast<void*>(::GetProcAddress(library_.get(), "MFShutdown")));
    constexpr ULONG kVersion = 0x00020070;  // MF_VERSION: MF_SDK_VERSION 2, MF_API_VERSION 0x70
    started_ = startup && shutdown_ && SUCCEEDED(startup(kVersion, 0));
  }
  ~MediaFoundationSession() {
    if (started_) shutdown_();
  }
  MediaFoundationSession(const MediaFoundationSession&) = delete;
  MediaFoundationSession& operator=(const MediaFoundationSession&) = delete;

 private:
  using ShutdownFunction = HRESULT(WINAPI*)();
  LibraryHandle library_;
  ShutdownFunction shutdown_ = nullptr;
  bool started_ = false;
};

// mfsensorgroup.dll (or the stand-in DORVANTEL_MFSENSORGROUP names) with its
// MFCreateVirtualCamera, and Media Foundation started while it is there; create is null where
// the platform has none. Owns the module: release every camera object before it.
struct SensorGroupLibrary {
  MediaFoundationSession mediaFoundation;  // ended after the module is released
  LibraryHandle module;
  MFCreateVirtualCameraFunction create = nullptr;

  SensorGroupLibrary() {
    wchar_t standIn[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"DORVANTEL_MFSENSORGROUP", standIn, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      module.reset(::LoadLibraryExW(standIn, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    } else {
      module.reset(::LoadLibraryExW(L"mfsensorgroup.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    }
    if (module) {
      create = reinterpret_cast<MFCreateVirtualCameraFunction>(
          reinterpret_cast<void*>(::GetProcAddress(module.get(), "MFCreateVirtualCamera")));
    }
  }
};

// The parameters a camera is made with; the platform knows the camera again by them.
struct CameraRecord {
  std::wstring friendlyName;
  std::wstring sourceId;
  DWORD lifetime = MFVirtualCameraLifetime_System;
  DWORD access = MFVirtualCameraAccess_CurrentUser;
};

CameraRecord NewRecord(const std::wstring& name) { return CameraRecord{name, camera_link::kCameraClsidText}; }

LONG SetText(HKEY key, const wchar_t* name, const std::wstring& value) {
  return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::wstring RecordPath(const std::wstring& name) { return std::wstring(kRecords) + L"\\" + name; }

bool ReadRecord(const std::wstring& name, CameraRecord* record) {
  RegistryKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, RecordPath(name).c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    return false;
  }
  const auto text = [&key](const wchar_t* value, std::wstring* out) {
    wchar_t buffer[256] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (::RegGetValueW(key.get(), nullptr, value, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) return false;
    *out = buffer;
    return true;
  };
  const auto number = [&key](const wchar_t* value, DWORD* out) {
    DWORD size = sizeof(*out);
    return ::RegGetValueW(key.get(), nullptr, value, RRF_RT_REG_DWORD, nullptr, out, &size) == ERROR_SUCCESS;
  };
  return text(L"FriendlyName", &record->friendlyName) && text(L"SourceId", &record->sourceId) &&
         number(L"Lifetime", &record->lifetime) && number(L"Access", &record->access);
}

HRESULT WriteRecord(const std::wstring& name, const CameraRecord& record) {
  RegistryKey key;
  LONG status = ::RegCreateKeyExW(HKEY_CURRENT_USER, RecordPath(name).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                  key.put(), nullptr);
  if (status == ERROR_SUCCESS) status = SetText(key.get(), L"FriendlyName", record.friendlyName);
  if (status == ERROR_SUCCESS) status = SetText(key.get(), L"SourceId", record.sourceId);
  if (status == ERROR_SUCCESS) {
    status = ::RegSetValueExW(key.get(), L"Lifetime", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&record.lifetime),
                              sizeof(DWORD));
  }
  if (status == ERROR_SUCCESS) {
    status = ::RegSetValueExW(key.get(), L"Access", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&record.access),
                              sizeof(DWORD));
  }
  return HRESULT_FROM_WIN32(status);
}

LONG DeleteRecord(const std::wstring& name) { return ::RegDeleteTreeW(HKEY_CURRENT_USER, RecordPath(name).c_str()); }

HRESULT WriteRunValue(const std::wstring& name, const std::wstring& command) {
  RegistryKey key;
  LONG status = ::RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr);
  if (status == ERROR_SUCCESS) status = SetText(key.get(), FeedRunValueName(name).c_str(), command);
  return HRESULT_FROM_WIN32(status);
}

// ERROR_SUCCESS also when there was none.
LONG DeleteRunValue(const std::wstring& name) {
  RegistryKey key;
  LONG status = ::RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, key.put());
  if (status == ERROR_SUCCESS) status = ::RegDeleteValueW(key.get(), FeedRunValueName(name).c_str());
  return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

// What a refusal of the platform means to the user.
std::wstring PlatformRefusal(const wchar_t* what, HRESULT hr) {
  std::wstring text = std::wstring(what) + L": " + ResultText(hr);
  if (hr == E_ACCESSDENIED) {
    text += L" (Windows' camera privacy must let desktop apps use the camera: ms-settings:privacy-webcam; and the "
            L"library's folder must be readable by LOCAL SERVICE)";
  } else if (hr == REGDB_E_CLASSNOTREG) {
    text += L" (the camera's media source is not registered: register the device again)";
  }
  return text;
}

// The camera object for record's parameters: new, or the platform's existing camera re-opened.
HRESULT OpenCamera(const SensorGroupLibrary& library, const CameraRecord& record, ComPtr<IMFVirtualCamera>* camera) {
  return library.create(MFVirtualCameraType_SoftwareCameraSource, static_cast<MFVirtualCameraLifetime>(record.lifetime),
                        static_cast<MFVirtualCameraAccess>(record.access), record.friendlyName.c_str(),
                        record.sourceId.c_str(), &kVideoCameraCategory, 1, camera->put());
}

// Starts program detached: no window, no handle of this process inherited (a caller that
// reads this process's output is not kept waiting by it).
HRESULT StartFeed(const std::wstring& program, const std::wstring& name, std::wstring* error) {
  std::wstring command = FeedCommandLine(program, name);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process)) {
    const DWORD code = ::GetLastError();
    *error = L"cannot start " + program + L": " + SystemMessage(code);
    return HRESULT_FROM_WIN32(code);
  }
  UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
  return S_OK;
}

// The feed program's hidden window (feed/feed_main.cpp), which ends it on WM_CLOSE.
constexpr wchar_t kFeedWindowClass[] = L"DorvantelFeed";

BOOL CALLBACK CloseFeed(HWND window, LPARAM title) {
  wchar_t kind[32] = {}, text[128] = {};
  ::GetClassNameW(window, kind, 32);
  if (wcscmp(kind, kFeedWindowClass) != 0) return TRUE;
  ::GetWindowTextW(window, text, 128);
  const auto* wanted = reinterpret_cast<const std::wstring*>(title);
  if (wanted->empty() || *wanted == text) ::PostMessageW(window, WM_CLOSE, 0, 0);
  return TRUE;
}

// Ends the feeds running in this session: the one whose window names the device ("Dorvantel
// feed: NAME"), or every one when no camera is left on (no feed is needed then).
void EndFeeds(const std::wstring& name) {
  std::wstring title = WindowsCamerasOn().empty() ? std::wstring() : camera_link::FeedWindowTitle(name);
  ::EnumWindows(CloseFeed, reinterpret_cast<LPARAM>(&title));
}

}  // namespace

bool WindowsCamerasAvailable() { return SensorGroupLibrary().create != nullptr; }

bool WindowsCameraOn(const std::wstring& name) {
  CameraRecord record;
  return WindowsCamerasAvailable() && ReadRecord(name, &record);
}

std::wstring WindowsCameraLine(const std::wstring& name) {
  if (!WindowsCamerasAvailable()) return L"Windows camera: not available on this system";
  return WindowsCameraOn(name) ? L"Windows camera: on" : L"Windows camera: off";
}

std::wstring FeedRunValueName(const std::wstring& name) { return L"Dorvantel feed: " + name; }

std::wstring FeedCommandLine(const std::wstring& feedProgram, const std::wstring& name) {
  return QuoteArgument(feedProgram) + L" " + JoinArguments({camera_link::kFeedNameOption, name});
}

HRESULT TurnWindowsCameraOn(const std::wstring& name, const std::wstring& feedProgram, std::wstring* error) {
  error->clear();
  SensorGroupLibrary library;
  if (!library.create) {
    *error = kNoWindowsCameras;
    return kNoCameraPlatform;
  }
  if (::GetFileAttributesW(feedProgram.c_str()) == INVALID_FILE_ATTRIBUTES) {
    *error = L"the feed program " + feedProgram + L" is missing: reinstall Dorvantel";
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  const CameraRecord record = NewRecord(name);
  ComPtr<IMFVirtualCamera> camera;
  HRESULT hr = OpenCamera(library, record, &camera);
  if (FAILED(hr)) {
    *error = PlatformRefusal(L"Windows made no camera", hr);
    return hr;
  }
  hr = camera->SetString(camera_link::DORVANTEL_CAMERA_PRESET, name.c_str());
  if (FAILED(hr)) {
    *error = L"cannot name the device on the camera: " + ResultText(hr);
    return hr;
  }
  hr = camera->Start(nullptr);
  if (FAILED(hr)) {
    *error = PlatformRefusal(L"Windows did not start the camera", hr);
    return hr;
  }
  hr = WriteRecord(name, record);
  if (SUCCEEDED(hr)) hr = WriteRunValue(name, FeedCommandLine(feedProgram, name));
  if (SUCCEEDED(hr)) hr = StartFeed(feedProgram, name, error);
  if (FAILED(hr)) {
    if (error->empty()) *error = L"cannot record the camera in the registry: " + ResultText(hr);
    camera->Remove();
    DeleteRunValue(name);
    DeleteRecord(name);
  }
  return hr;
}

HRESULT TurnWindowsCameraOff(const std::wstring& name, std::wstring* error) {
  error->clear();
  SensorGroupLibrary library;
  if (!library.create) {
    *error = kNoWindowsCameras;
    return kNoCameraPlatform;
  }
  CameraRecord record;
  if (!ReadRecord(name, &record)) return S_FALSE;
  {
    ComPtr<IMFVirtualCamera> camera;
    HRESULT hr = OpenCamera(library, record, &camera);
    if (SUCCEEDED(hr)) hr = camera->Remove();
    if (FAILED(hr)) {
      *error = PlatformRefusal(L"Windows did not remove the camera", hr);
      return hr;
    }
  }
  LONG status = DeleteRunValue(name);
  if (status == ERROR_SUCCESS) status = DeleteRecord(name);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    *error = L"the camera is removed, but not its entry in the registry: " + SystemMessage(static_cast<DWORD>(status));
    return HRESULT_FROM_WIN32(status);
  }
  EndFeeds(name);
  return S_OK;
}

HRESULT RenameWindowsCamera(const std::wstring& from, const std::wstring& to, const std::wstring& feedProgram,
                            std::wstring* error) {
  HRESULT hr = TurnWindowsCameraOff(from, error);
  if (FAILED(hr)) return hr;
  hr = TurnWindowsCameraOn(to, feedProgram, error);
  if (FAILED(hr)) *error = L"it is off now: " + *error;
  return hr;
}

std::vector<std::wstring> WindowsCamerasOn() {
  std::vector<std::wstring> names;
  RegistryKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kRecords, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return names;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (::RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.push_back(name);
  }
  return names;
}

}  // namespace dorvantel
