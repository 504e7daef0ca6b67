#pragma once
// Owners of the platform resources that the recorder's programs hold beyond those of the
// library: files, loaded modules and registry keys.

#include <windows.h>
#include <dshow.h>

#include <string>

#include "framework/handles.h"

// A file or pipe handle from CreateFileW; INVALID_HANDLE_VALUE is its empty value.
struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::CloseHandle(h); }
};
using FileHandle = UniqueResource<FileHandleTraits>;

// A module loaded with LoadLibraryW; FreeLibrary releases it. Release it only after every
// object the module made is gone.
struct LibraryTraits {
  using Type = HMODULE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type m) noexcept { ::FreeLibrary(m); }
};
using LibraryHandle = UniqueResource<LibraryTraits>;

struct RegistryKeyTraits {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type k) noexcept { ::RegCloseKey(k); }
};
using RegistryKey = UniqueResource<RegistryKeyTraits>;

// A COM apartment joined by this thread for the life of the object.
class ComApartment {
 public:
  explicit ComApartment(DWORD model) noexcept : result_(::CoInitializeEx(nullptr, model)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  HRESULT result() const noexcept { return result_; }

 private:
  HRESULT result_;
};

// A media type filled in by a callee; frees its format block and pUnk.
class ConnectedMediaType {
 public:
  ConnectedMediaType() noexcept = default;
  ~ConnectedMediaType() {
    if (type_.pbFormat) ::CoTaskMemFree(type_.pbFormat);
    if (type_.pUnk) type_.pUnk->Release();
  }
  ConnectedMediaType(const ConnectedMediaType&) = delete;
  ConnectedMediaType& operator=(const ConnectedMediaType&) = delete;
  AM_MEDIA_TYPE* get() noexcept { return &type_; }

 private:
  AM_MEDIA_TYPE type_{};
};

// Text of a system error code, without the trailing line break.
std::wstring SystemMessage(DWORD code);
// Text of an HRESULT: the system's message where it has one, and the code in hex.
std::wstring ResultText(HRESULT hr);
