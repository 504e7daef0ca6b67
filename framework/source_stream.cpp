#include "framework/source_stream.h"

#include <strsafe.h>

#include "base/handles.h"
#include "framework/source_filter.h"

CSourceStream::CSourceStream(MostDerived, HRESULT* result, CSource* filter, LPCWSTR name) noexcept
    : CAMThread(), CBaseOutputPin(filter, filter->StateLock(), name), source_(filter) {
  const HRESULT attached = filter->AttachPin(this);
  if (result) *result = ChannelReady() ? attached : E_OUTOFMEMORY;
}

CSourceStream::~CSourceStream() {
  // StreamingPin's destructor has ended the worker already.
  source_->DetachPin(this);
}

HRESULT CSourceStream::OnWorkerStart() { return S_OK; }
HRESULT CSourceStream::OnWorkerStop() { return S_OK; }
HRESULT CSourceStream::OnStreamStart() { return S_OK; }
HRESULT CSourceStream::SoleMediaType(MediaType*) { return E_UNEXPECTED; }

DWORD CSourceStream::WorkerMain() {
  DWORD request;
  while ((request = WaitRequest()) != CmdInit) ReplyRequest(static_cast<DWORD>(E_UNEXPECTED));

  const HRESULT started = OnWorkerStart();
  if (FAILED(started)) {
    OnWorkerStop();
    ReplyRequest(static_cast<DWORD>(started));
    return 1;
  }
  ReplyRequest(S_OK);

  for (;;) {
    request = WaitRequest();
    if (request == CmdPause || request == CmdRun) {
      ReplyRequest(S_OK);
      ProcessBuffers();
    } else if (request == CmdStop) {
      ReplyRequest(S_OK);
    } else if (request == CmdExit) {
      ReplyRequest(S_OK);
      break;
    } else {
      ReplyRequest(static_cast<DWORD>(E_NOTIMPL));
    }
  }
  return FAILED(OnWorkerStop()) ? 1 : 0;
}

bool CSourceStream::HandleStreamingRequest(DWORD request) {
  if (request == CmdStop) return false;  // answered by WorkerMain once the loop has ended
  ReplyRequest(request == CmdPause || request == CmdRun ? S_OK : static_cast<DWORD>(E_UNEXPECTED));
  return true;
}

HRESULT CSourceStream::ProcessBuffers() {
  OnStreamStart();
  for (;;) {
    DWORD request;
    if (PeekRequest(&request)) {
      if (!HandleStreamingRequest(request)) return S_FALSE;
      continue;
    }

    ComPtr<IMediaSample> sample;
    if (FAILED(AcquireSample(sample.put(), nullptr, nullptr, 0))) {
      // Not committed yet, or being decommitted: look for a command again shortly.
      ::Sleep(1);
      continue;
    }

    const HRESULT filled = FillSample(sample.get());
    if (filled == S_OK) {
      const HRESULT delivered = DeliverSample(sample.get());
      sample.reset();
      if (delivered != S_OK) return S_OK;  // downstream refused: streaming stops quietly
      continue;
    }
    sample.reset();
    if (filled == S_SAMPLE_NOT_FILLED) continue;
    SendEndOfStream();
    if (filled == S_FALSE) return S_OK;
    source_->NotifyGraph(EC_ERRORABORT, filled, 0);
    return filled;
  }
}

HRESULT CSourceStream::Activate() {
  SectionLockHolder holder(Lock());
  if (source_->State() != State_Stopped) return S_FALSE;
  if (!IsConnected()) return S_OK;
  HRESULT hr = CBaseOutputPin::Activate();
  if (FAILED(hr)) return hr;
  if (!StartWorker()) return E_FAIL;
  hr = static_cast<HRESULT>(SendRequest(CmdInit));
  if (FAILED(hr)) return hr;
  return static_cast<HRESULT>(SendRequest(CmdPause));
}

HRESULT CSourceStream::Deactivate() {
  SectionLockHolder holder(Lock());
  if (!IsConnected()) return S_OK;
  return EndWorker(false);
}

HRESULT CSourceStream::EndWorker(bool flushPeer) {
  SectionLockHolder holder(Lock());
  // Decommitting first releases a worker that waits for a sample.
  const HRESULT decommitted = CBaseOutputPin::Deactivate();
  if (!WorkerExists()) return decommitted;
  const bool flush = flushPeer && IsConnected();
  if (flush) SendBeginFlush();
  // Answered S_OK by a worker that has been initialised, E_FAIL by one that has ended; the
  // worker is joined either way.
  SendRequest(CmdStop);
  SendRequest(CmdExit);
  JoinWorker();
  if (flush) SendEndFlush();
  return decommitted;
}

HRESULT CSourceStream::VerifyMediaType(const AM_MEDIA_TYPE* type) {
  SectionLockHolder holder(Lock());
  MediaType sole;
  SoleMediaType(&sole);
  return type && sole.Equals(*type) ? S_OK : E_FAIL;
}

HRESULT CSourceStream::MediaTypeAt(int position, MediaType* type) {
  SectionLockHolder holder(Lock());
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  return SoleMediaType(type);
}

HRESULT STDMETHODCALLTYPE CSourceStream::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  *id = nullptr;
  const int position = source_->PinIndexOf(this);
  if (position < 0) return VFW_E_NOT_FOUND;
  constexpr size_t kLength = 12;
  TaskMemory<WCHAR> text(static_cast<WCHAR*>(::CoTaskMemAlloc(kLength * sizeof(WCHAR))));
  if (!text) return E_OUTOFMEMORY;
  if (FAILED(::StringCchPrintfW(text.get(), kLength, L"%d", position + 1))) text.get()[0] = L'\0';
  *id = text.release();
  return S_OK;
}
