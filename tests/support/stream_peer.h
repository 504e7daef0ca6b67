#pragma once
// StreamPeer: a hand-written downstream input pin for streaming tests. It offers Wine's own
// memory allocator (or, as the sinks of ffmpeg, OBS and VLC, none), accepts any type, and
// records what a source's worker delivers to it from another thread: samples (with their
// times, arrival tick and, when asked, pixels), end-of-stream calls. Unlike a renderer it never
// blocks in Receive, whatever state the source is in.
// The test owns it (on its stack); its reference count starts at 1, the test's own.

#include <windows.h>
#include <dshow.h>

#include <vector>

#include "base/com_ptr.h"
#include "base/handles.h"
#include "base/section_lock.h"

class StreamPeer : public IPin, public IMemInputPin {
 public:
  // One sample as the peer received it.
  struct Sample {
    bool hasTime = false;
    REFERENCE_TIME start = 0;
    REFERENCE_TIME end = 0;
    LONG size = 0;
    ULONGLONG arrival = 0;  // GetTickCount64 when Receive was called
    BYTE firstByte = 0;
    std::vector<BYTE> bytes;  // the whole buffer, when the peer keeps pixels
  };

  StreamPeer();
  virtual ~StreamPeer() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(::InterlockedDecrement(&refs_)); }

  // IPin
  HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Disconnect() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EndOfStream() override;
  HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  // IMemInputPin
  HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
  HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL) override;
  HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
  HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample**, long, long* done) override;
  HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }

  // Gives the allocator buffers of this many bytes from the next commit on.
  HRESULT ShrinkBuffers(LONG bytes);
  // GetAllocator answers VFW_E_NO_ALLOCATOR from now on: the source brings its own.
  void OfferNoAllocator() { allocator_.reset(); }
  // Received samples keep a copy of their whole buffer.
  void KeepPixels(bool keep) { keepPixels_ = keep; }
  // What the allocator NotifyAllocator was last told of granted (all zero before).
  ALLOCATOR_PROPERTIES NotifiedProperties() const { return notified_; }

  size_t ReceivedCount();
  std::vector<Sample> Received();
  LONG EndOfStreams() const { return endOfStreams_; }
  // Waits until at least count samples arrived; false on time-out.
  bool WaitForReceived(size_t count, DWORD timeoutMs = 10000);
  bool WaitForEndOfStream(DWORD timeoutMs = 10000);
  LONG References() const { return refs_; }

 private:
  volatile LONG refs_ = 1;
  volatile LONG endOfStreams_ = 0;
  ComPtr<IMemAllocator> allocator_;
  bool keepPixels_ = false;
  ALLOCATOR_PROPERTIES notified_ = {};
  SectionLock lock_;
  std::vector<Sample> received_;
};
