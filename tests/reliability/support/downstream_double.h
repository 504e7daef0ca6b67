#pragma once
// Hand-written downstream doubles for the faults no real filter produces on demand.
//
// FaultyAllocator wraps the platform's memory allocator: it can fail GetBuffer for a while,
// grant smaller buffers than it reports, and poisons every buffer it hands out so that a
// sample delivered without being filled shows. DownstreamPin is an input pin (IPin and
// IMemInputPin) that offers that allocator and records what it receives; its Receive can
// fail, answer S_FALSE or block until the pin is stopped or flushed. It can also be shaped like the
// sink of a real host: what QueryAccept answers, no allocator of its own, only one subtype
// taken, samples kept for a while. EventSinkGraph stands in for the graph a filter joins and
// records the events it is sent.
//
// The test owns every double (on its stack or as a member); the reference counts only show
// that each reference taken was given back. Fields the worker thread touches are atomic or
// guarded by the pin's lock.

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <deque>
#include <utility>
#include <vector>

#include "base/com_ptr.h"
#include "base/handles.h"
#include "base/section_lock.h"

// The byte every handed-out buffer is filled with before the source gets it.
constexpr BYTE kPoisonByte = 0xCD;

class FaultyAllocator : public IMemAllocator {
 public:
  FaultyAllocator();
  bool valid() const noexcept { return static_cast<bool>(inner_); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs_); }

  HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
  HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* properties) override;
  HRESULT STDMETHODCALLTYPE Commit() override;
  HRESULT STDMETHODCALLTYPE Decommit() override;
  HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                      DWORD flags) override;
  HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* sample) override;

  // The next count GetBuffer calls fail with VFW_E_TIMEOUT.
  void FailNextGetBuffers(long count) { failuresLeft_ = count; }
  // Buffers are made this many bytes smaller than SetProperties reports.
  void ShrinkBuffersBy(LONG bytes) { shrinkBy_ = bytes; }

  long refs() const { return refs_; }
  long getBufferCalls() const { return getBufferCalls_; }
  long failedGetBuffers() const { return failedGetBuffers_; }
  // Threads inside GetBuffer right now (a worker waiting for a free buffer).
  long waitingInGetBuffer() const { return waiting_; }

 private:
  ComPtr<IMemAllocator> inner_;
  std::atomic<long> refs_{1};
  std::atomic<long> failuresLeft_{0};
  std::atomic<LONG> shrinkBy_{0};
  std::atomic<long> getBufferCalls_{0};
  std::atomic<long> failedGetBuffers_{0};
  std::atomic<long> waiting_{0};
};

// What the pin saw of one received sample.
struct ReceivedSample {
  bool stamped = false;
  REFERENCE_TIME start = 0;
  REFERENCE_TIME end = 0;
  bool syncPoint = false;
  LONG size = 0;
  // 32-bit words of the buffer that still hold the poison pattern.
  size_t poisonedWords = 0;
};

class DownstreamPin : public IPin, public IMemInputPin {
 public:
  DownstreamPin();
  ~DownstreamPin();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs_); }

  // IPin
  HRESULT STDMETHODCALLTYPE Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE Disconnect() override;
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
  HRESULT STDMETHODCALLTYPE EndOfStream() override;
  HRESULT STDMETHODCALLTYPE BeginFlush() override;
  HRESULT STDMETHODCALLTYPE EndFlush() override;
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // IMemInputPin
  HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
  HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
  HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, long count, long* processed) override;
  HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

  // As the pin's filter would be told: Stop releases a blocked Receive and refuses further
  // samples (VFW_E_WRONG_STATE) until Start.
  void Stop();
  void Start();
  long flushes() const { return flushes_; }

  // After this many samples have been accepted, Receive answers result instead.
  void RefuseAfter(long accepted, HRESULT result) {
    refusal_ = result;
    refuseAfter_ = accepted;
  }
  // Receive keeps waiting (up to a bound) until Stop or BeginFlush, as a paused renderer's does.
  void BlockInReceive(bool block) { blockInReceive_ = block; }
  // Receive keeps a reference to every sample until ReleaseHeldSamples; with a limit, the
  // oldest is let go once more than limit are kept.
  void HoldSamples(bool hold, size_t limit = 0) {
    holdSamples_ = hold;
    holdLimit_ = limit;
  }
  void ReleaseHeldSamples();
  // Lets go of the oldest kept sample, as a host's reading thread does; false when none is kept.
  bool ReleaseOldestHeldSample();
  size_t heldCount();
  // What QueryAccept answers.
  void AnswerQueryAccept(HRESULT answer) { queryAccept_ = answer; }
  // GetAllocator answers VFW_E_NO_ALLOCATOR: the source brings its own.
  void OfferNoAllocator(bool none) { noAllocator_ = none; }
  // ReceiveConnection takes only this major type, and with a subtype only that subtype as
  // FORMAT_VideoInfo with a non-zero size (GUID_NULL: any); others get VFW_E_TYPE_NOT_ACCEPTED.
  void AcceptOnly(const GUID& major, const GUID& subtype) {
    acceptMajor_ = major;
    acceptSubtype_ = subtype;
  }
  // The subtype of the last connection ReceiveConnection took.
  GUID connectedSubtype() const { return connectedSubtype_; }
  // The allocator NotifyAllocator was last told of (kept until Disconnect).
  IMemAllocator* notifiedAllocator() const { return notified_.get(); }
  // The media types EnumMediaTypes hands out (copies, in order); none: E_NOTIMPL.
  void OfferTypes(std::vector<const AM_MEDIA_TYPE*> types) { offered_ = std::move(types); }

  FaultyAllocator& allocator() { return allocator_; }
  std::vector<ReceivedSample> Received();
  long receivedCount() const { return receivedCount_; }
  // Samples Receive refused (RefuseAfter).
  long refusedCount() const { return refusedCount_; }
  long endOfStreams() const { return endOfStreams_; }
  bool connected() const { return connected_; }
  // Threads inside Receive right now.
  long insideReceive() const { return insideReceive_; }
  // True once a blocked Receive gave up waiting for Stop.
  bool blockExpired() const { return blockExpired_; }
  long refs() const { return refs_; }

 private:
  FaultyAllocator allocator_;
  std::atomic<long> refs_{1};
  std::atomic<bool> connected_{false};
  std::atomic<bool> stopped_{false};
  // Between BeginFlush and EndFlush: Receive answers S_FALSE at once.
  std::atomic<bool> flushing_{false};
  std::atomic<long> flushes_{0};
  std::atomic<bool> blockInReceive_{false};
  std::atomic<bool> holdSamples_{false};
  std::atomic<size_t> holdLimit_{0};
  std::atomic<HRESULT> queryAccept_{S_OK};
  std::atomic<bool> noAllocator_{false};
  GUID acceptMajor_ = GUID_NULL;
  GUID acceptSubtype_ = GUID_NULL;
  GUID connectedSubtype_ = GUID_NULL;
  ComPtr<IMemAllocator> notified_;  // set and cleared while the filter is stopped
  std::atomic<bool> blockExpired_{false};
  std::atomic<long> refuseAfter_{-1};
  std::atomic<HRESULT> refusal_{S_OK};
  std::atomic<long> receivedCount_{0};
  std::atomic<long> refusedCount_{0};
  std::atomic<long> endOfStreams_{0};
  std::atomic<long> insideReceive_{0};
  EventHandle released_;  // manual-reset: set while stopped or flushing
  std::vector<const AM_MEDIA_TYPE*> offered_;
  SectionLock lock_;  // guards received_ and held_
  std::vector<ReceivedSample> received_;
  std::deque<ComPtr<IMediaSample>> held_;
};

// An IUnknown that only counts, handed to the filter inside a media type or a VARIANT:
// every reference the filter takes must come back.
class CountedUnknown : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  long refs = 1;
};

class EventSinkGraph : public IFilterGraph, public IMediaEventSink {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs_); }

  HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reconnect(IPin*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Disconnect(IPin*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE Notify(long code, LONG_PTR param1, LONG_PTR param2) override;

  // (code, param1) of every event so far.
  std::vector<std::pair<long, LONG_PTR>> Events();
  long refs() const { return refs_; }
  // Each Notify takes about this long, so that one in progress is met.
  void NotifyTakes(LONGLONG microseconds) { notifyMicroseconds_ = microseconds; }
  // The filter has left this graph (JoinFilterGraph with none returned): a real graph may be
  // gone now. Notify calls entered after it, or still inside then, are counted.
  void Leave() { gone_ = true; }
  long lateNotifies() const { return lateNotifies_; }
  // Threads inside Notify right now.
  long insideNotify() const { return insideNotify_; }

 private:
  std::atomic<long> refs_{1};
  std::atomic<LONGLONG> notifyMicroseconds_{0};
  std::atomic<bool> gone_{false};
  std::atomic<long> lateNotifies_{0};
  std::atomic<long> insideNotify_{0};
  SectionLock lock_;
  std::vector<std::pair<long, LONG_PTR>> events_;
};
