#pragma once
// Owners of the platform resources that the recorder's programs hold beyond those of the
// library and the host kit: files and registry keys.

#include <windows.h>

#include "framework/handles.h"

// A file or pipe handle from CreateFileW; INVALID_HANDLE_VALUE is its empty value.
struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::CloseHandle(h); }
};
using FileHandle = UniqueResource<FileHandleTraits>;

struct RegistryKeyTraits {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type k) noexcept { ::RegCloseKey(k); }
};
using RegistryKey = UniqueResource<RegistryKeyTraits>;
