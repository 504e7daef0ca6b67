#pragma once
// CSourceStream: an output pin with its own worker thread. While the filter is paused or
// running and the pin is connected, the worker takes empty samples from the allocator, has
// the derived pin fill them (FillSample) and delivers them downstream.
//
// Owns its worker (CAMThread). Holds a plain pointer to its filter, which owns the pin.
// Activate and Deactivate run under the filter's state lock and then take the worker's
// access lock (state lock first); the worker takes neither.

#include <windows.h>
#include <dshow.h>

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

class CSourceStream : public CAMThread, public CBaseOutputPin {
 public:
  // result receives the outcome of attaching the pin to the filter, or E_OUTOFMEMORY when the
  // worker's channel could not be made.
  CSourceStream(HRESULT* result, CSource* filter, LPCWSTR name) noexcept;
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
  HRESULT Deactivate() override;
  HRESULT VerifyMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT MediaTypeAt(int position, MediaType* type) override;
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;

  CSource* Source() const noexcept { return source_; }

 private:
  // Answers a request found between samples; false when it was CmdStop (left pending).
  bool HandleStreamingRequest(DWORD request);

  CSource* const source_;
};
