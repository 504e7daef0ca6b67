#pragma once
// Move-only owners of platform resources. One policy per kind of resource says what the
// empty value is and how the resource is released; the release path is written once here.

#include <windows.h>
#include <objbase.h>

#include <utility>

template <typename Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() noexcept = default;
  explicit UniqueResource(Type value) noexcept : value_(value) {}
  ~UniqueResource() { reset(); }

  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Type get() const noexcept { return value_; }
  bool valid() const noexcept { return value_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  // Gives up ownership without releasing: the caller owns the value now.
  [[nodiscard]] Type release() noexcept { return std::exchange(value_, Traits::Invalid()); }

  void reset(Type value = Traits::Invalid()) noexcept {
    Type old = std::exchange(value_, value);
    if (old != Traits::Invalid()) Traits::Close(old);
  }

  // For out-parameters: releases the current value first, so nothing can leak.
  Type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  Type value_ = Traits::Invalid();
};

struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::CloseHandle(h); }
};

// A kernel handle that CloseHandle releases: events and threads.
using UniqueHandle = UniqueResource<KernelHandleTraits>;
using EventHandle = UniqueHandle;
using ThreadHandle = UniqueHandle;

// A module loaded with LoadLibraryW; FreeLibrary releases it. Release it only after every
// object the module made is gone.
struct LibraryTraits {
  using Type = HMODULE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type module) noexcept { ::FreeLibrary(module); }
};
using LibraryHandle = UniqueResource<LibraryTraits>;

// COM task memory (CoTaskMemAlloc); freed with CoTaskMemFree. Used for memory that is
// about to cross an interface: release() hands it to the receiver.
template <typename T>
struct TaskMemoryTraits {
  using Type = T*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type p) noexcept { ::CoTaskMemFree(p); }
};
template <typename T>
using TaskMemory = UniqueResource<TaskMemoryTraits<T>>;

// A GDI object (bitmap, brush, ...) that DeleteObject releases. Must not be selected into
// a device context when it is released.
template <typename T>
struct GdiObjectTraits {
  using Type = T;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type object) noexcept { ::DeleteObject(object); }
};
template <typename T>
using GdiObject = UniqueResource<GdiObjectTraits<T>>;
using BitmapHandle = GdiObject<HBITMAP>;

// A file or pipe handle from CreateFileW; INVALID_HANDLE_VALUE is its empty value.
struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::CloseHandle(h); }
};
using FileHandle = UniqueResource<FileHandleTraits>;

// An open registry key; RegCloseKey releases it.
struct RegistryKeyTraits {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type k) noexcept { ::RegCloseKey(k); }
};
using RegistryKey = UniqueResource<RegistryKeyTraits>;
