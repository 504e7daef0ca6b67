#pragma once
// CSourceStream: an output pin with its own worker thread. While the filter is paused or
// running and the pin is connected, the worker takes empty samples from the allocator, has
// the derived pin fill them (FillSample) and delivers them downstream.
//
// Owns its worker (CAMThread). Holds a plain pointer to its filter, which owns the pin.
// Activate, Deactivate and EndWorker run under the filter's state lock and then take the
// worker's access lock (state lock first); the worker takes neither.
//
// The worker uses the whole pin, the derived pin's members included, so it must end before
// any of them is destroyed. That is the job of the most derived class, and only
// StreamingPin<Pin> can be it: every CSourceStream constructor takes a MostDerived key that
// only StreamingPin makes, and StreamingPin is final. Its destructor ends the worker while the
// pin is still whole, whatever the filter's state says and whatever order the pin's own
// destructors run in.

#include <windows.h>
#include <dshow.h>

#include <utility>

#include "format/output_pin.h"
#include "framework/worker_thread.h"

class CSource;

// Requests carried by the worker's channel.
enum WorkerCommand : DWORD {
  CmdInit = 0,
  CmdPause = 1,
  CmdRun = 2,
  CmdStop = 3,
  CmdExit = 4,
};

// FillSample's answer for a sample it deliberately left unfilled: the sample is released
// without delivery and the worker goes back to checking for commands.
constexpr HRESULT S_SAMPLE_NOT_FILLED = MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_ITF, 0x0301);

template <class Pin>
class StreamingPin;

class CSourceStream : public CAMThread, public CBaseOutputPin {
 public:
  // What every constructor of a pin with a worker takes and passes on: only StreamingPin
  // makes one, so every such pin is the base of a StreamingPin.
  class MostDerived {
   private:
    MostDerived() noexcept {}
    template <class Pin>
    friend class StreamingPin;
  };

  // result receives the outcome of attaching the pin to the filter, or E_OUTOFMEMORY when the
  // worker's channel could not be made.
  CSourceStream(MostDerived, HRESULT* result, CSource* filter, LPCWSTR name) noexcept;
  ~CSourceStream() override;

  DWORD WorkerMain() override;
  // S_OK: deliver; S_FALSE: end of stream; S_SAMPLE_NOT_FILLED: drop and go on; else an error.
  virtual HRESULT FillSample(IMediaSample* sample) = 0;
  virtual HRESULT OnWorkerStart();
  virtual HRESULT OnWorkerStop();
  virtual HRESULT OnStreamStart();
  // The buffer loop; returns when told to stop or when streaming ends.
  virtual HRESULT ProcessBuffers();
  // The one type a pin with the default VerifyMediaType and MediaTypeAt offers.
  virtual HRESULT SoleMediaType(MediaType* type);

  HRESULT Activate() override;
  // Decommits the allocator and ends the worker; a refused decommit is returned once the
  // worker has ended, so a stopped filter never has a live worker.
  HRESULT Deactivate() override;
  // Ends the worker whatever the filter's state: decommits the allocator (a worker waiting
  // for a buffer gets none), tells the worker to stop and exit, and joins it. With flushPeer
  // the peer is flushed while the worker stops (a paused renderer holds Receive until it
  // runs, stops or is flushed, and a pin being destroyed cannot wait for that). Returns the
  // decommit's result (VFW_E_NO_ALLOCATOR without an allocator).
  HRESULT EndWorker(bool flushPeer);
  HRESULT VerifyMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT MediaTypeAt(int position, MediaType* type) override;
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;

  CSource* Source() const noexcept { return source_; }

 private:
  // Answers a request found between samples; false when it was CmdStop (left pending).
  bool HandleStreamingRequest(DWORD request);

  CSource* const source_;
};

// The most derived class of every pin with a worker: Pin's constructor takes the
// MostDerived key first, then args. Deleting the pin (through any base) ends its worker
// before Pin's destructor runs, flushing the peer, since a pin is destroyed without a Stop
// when a host releases a running filter.
template <class Pin>
class StreamingPin final : public Pin {
 public:
  template <class... Args>
  explicit StreamingPin(Args&&... args) noexcept : Pin(CSourceStream::MostDerived(), std::forward<Args>(args)...) {}
  ~StreamingPin() override { this->EndWorker(true); }
};
