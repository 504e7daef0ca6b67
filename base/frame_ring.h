#pragma once
// FrameRing: a few frames in a named section, written by one process (the feed) and read by
// several (the camera's media sources), with no lock between them. Each slot is a seqlock: its
// counter is odd while the writer fills it; a reader copies the slot and keeps the copy only
// when the counter was even and unchanged around it, so a torn frame is never handed out. The
// header holds a magic, the layout, the number of the newest frame and the writer's heartbeat
// (the time of its last write), from which readers tell that no frame has come for a while.
//
// Who creates the section and with which DACL: base/camera_link.h. A FrameRing owns the
// section handle and its view; it is not shared between threads (each thread its own, or a
// lock of the caller's).

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/handles.h"

// A frame's layout in the ring; the subtype is a FOURCC (NV12, YUY2) or kRgb32 for 32-bit
// BGRX, rows top-down, stride bytes apart, bytes in all.
struct RingFrameFormat {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t subtype = 0;
  uint32_t stride = 0;
  uint32_t bytes = 0;
};

// A frame read: its format, number (1, 2, ... in the order written) and write time.
struct RingFrameInfo {
  RingFrameFormat format;
  uint64_t number = 0;
  int64_t time = 0;  // 100 ns units of the performance counter (MFGetSystemTime's clock)
};

struct MappedViewTraits {
  using Type = void*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type view) noexcept { ::UnmapViewOfFile(view); }
};
// A view of a section (MapViewOfFile); UnmapViewOfFile releases it.
using MappedView = UniqueResource<MappedViewTraits>;

class FrameRing {
 public:
  static constexpr uint32_t kMagic = 0x52465644;  // "DVFR"
  static constexpr uint32_t kVersion = 1;
  static constexpr uint32_t kSlots = 3;
  static constexpr uint32_t kRgb32 = 22;  // D3DFMT_X8R8G8B8, as MFVideoFormat_RGB32's first field
  static constexpr uint32_t kNv12 = 0x3231564e;  // FOURCC "NV12"
  static constexpr uint32_t kYuy2 = 0x32595559;  // FOURCC "YUY2"
  // Room for a 3840x2160 frame of 32 bits a pixel in each slot.
  static constexpr uint32_t kDefaultFrameCapacity = 3840u * 2160u * 4u;

  FrameRing() noexcept = default;
  FrameRing(const FrameRing&) = delete;
  FrameRing& operator=(const FrameRing&) = delete;

  // Opens the named ring, creating it (slots of frameCapacity bytes, with the DACL of
  // camera_link.h) when it is not there; *created says which. A ring made by another creator
  // keeps its layout. Fails with ERROR_ACCESS_DENIED where the name may not be created or
  // opened, and with ERROR_INVALID_DATA when the section is not a ring of this version.
  HRESULT Attach(const std::wstring& name, uint32_t frameCapacity = kDefaultFrameCapacity, bool* created = nullptr);
  // Opens an existing ring; ERROR_FILE_NOT_FOUND when there is none.
  HRESULT Open(const std::wstring& name);
  void Close() noexcept;
  bool attached() const noexcept { return view_.valid(); }
  uint32_t frameCapacity() const noexcept;

  // Writes one frame (bytes of format.bytes, format.stride apart) as the newest and beats the
  // heartbeat. E_INVALIDARG when it does not fit a slot; E_UNEXPECTED when not attached.
  HRESULT Write(const RingFrameFormat& format, const BYTE* pixels);
  // Beats the heartbeat without a frame (a writer that is alive but has nothing new).
  void Beat() noexcept;

  // Copies the newest frame if its number is above after: S_OK with *info and destination
  // filled; S_FALSE when there is no newer complete frame (none yet, or the writer overwrote it
  // while it was copied more often than the retries). E_INVALIDARG when destination is smaller
  // than the frame.
  HRESULT ReadNewest(uint64_t after, BYTE* destination, size_t destinationBytes, RingFrameInfo* info);
  // The number of the newest complete frame, 0 before the first.
  uint64_t NewestNumber() const noexcept;
  // The heartbeat: when the writer last wrote or beat (the clock of Now), 0 before it ever did.
  int64_t Heartbeat() const noexcept;
  // The performance counter in 100 ns units.
  static int64_t Now() noexcept;

 private:
  struct Header;
  struct Slot;
  Header* header() const noexcept { return static_cast<Header*>(view_.get()); }
  Slot* slot(uint64_t number) const noexcept;
  HRESULT Map(uint32_t frameCapacity, bool create);

  UniqueHandle section_;
  MappedView view_;
  size_t viewBytes_ = 0;
};

// The security descriptor of a ring (camera_link.h): SYSTEM, LOCAL SERVICE and the calling
// process's user full access (the interactive users instead, when that user is LOCAL SERVICE or
// SYSTEM), nobody else. Freed with LocalFree; null on failure (GetLastError).
PSECURITY_DESCRIPTOR MakeRingSecurity() noexcept;
