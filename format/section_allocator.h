#pragma once
// SectionAllocator: the output pin's own sample allocator, used when the downstream pin brings
// none (ffmpeg's, OBS's and VLC's sinks). Each buffer is memory of a file mapping of its own,
// and, where the connection's layout allows, a DIB section over the same memory: the sample's
// buffer and a bitmap that GDI can copy the screen into are then one, so a frame needs no
// second pass from a kept bitmap into the sample.
//
// Owns its samples, their mappings, views and sections; they are made by Commit and freed by
// Decommit once every sample has come back (or by the destructor). A sample handed out holds
// a reference on the allocator until it comes back. lock_ guards every field below it; the
// samples' own fields belong to whoever holds the sample.

#include <windows.h>
#include <dshow.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "base/handles.h"
#include "base/section_lock.h"
#include "framework/unknown.h"

class SectionAllocator : public CUnknown, public IMemAllocator {
 public:
  // layout: the connection's bitmap header with its colour masks or table (layoutBytes long),
  // the layout of every section. *allocator receives the new allocator with one reference.
  static HRESULT Create(const BITMAPINFO* layout, size_t layoutBytes, SectionAllocator** allocator) noexcept;

  FORWARD_IUNKNOWN_TO_OUTER
  HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override;

  // IMemAllocator. cbAlign must be a power of two up to the mapping's alignment (64 KiB);
  // cBuffers below 1 is taken as 1.
  HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
  HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* properties) override;
  HRESULT STDMETHODCALLTYPE Commit() override;
  HRESULT STDMETHODCALLTYPE Decommit() override;
  // Waits for a free sample (unless AM_GBF_NOWAIT: VFW_E_TIMEOUT); VFW_E_NOT_COMMITTED when
  // not committed or decommitted while waiting.
  HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                      DWORD flags) override;
  HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* sample) override;

  // The DIB section whose bits are sample's buffer, when sample is one of this allocator's
  // samples and has one; else null. For the holder of the sample.
  HBITMAP SectionOf(IMediaSample* sample) noexcept;

 private:
  class Sample;
  struct Buffer;

  SectionAllocator() noexcept;
  ~SectionAllocator() override;

  // Makes the buffers of properties_; false (nothing made) when memory runs out.
  bool MakeBuffers() noexcept;
  // Frees every buffer; none may be out.
  void FreeBuffers() noexcept;
  // A sample whose last reference went: back to the free list (and its buffers freed when a
  // decommit waits for it).
  void Returned(Sample* sample) noexcept;

  alignas(8) BYTE layout_[sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD)] = {};
  bool hasLayout_ = false;
  EventHandle available_;  // manual-reset: set while a sample is free or the allocator is decommitted
  SectionLock lock_;
  ALLOCATOR_PROPERTIES properties_ = {};
  bool committed_ = false;
  std::vector<std::unique_ptr<Sample>> samples_;  // every sample made by the last commit
  std::vector<Sample*> free_;
};
