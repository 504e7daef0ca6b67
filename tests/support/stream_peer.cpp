#include "tests/support/stream_peer.h"

StreamPeer::StreamPeer() {
  ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                     allocator_.put_void());
}

HRESULT STDMETHODCALLTYPE StreamPeer::QueryInterface(REFIID iid, void** out) {
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
    *out = static_cast<IPin*>(this);
  } else if (IsEqualIID(iid, IID_IMemInputPin)) {
    *out = static_cast<IMemInputPin*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE StreamPeer::QueryDirection(PIN_DIRECTION* direction) {
  *direction = PINDIR_INPUT;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE StreamPeer::EndOfStream() {
  ::InterlockedIncrement(&endOfStreams_);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE StreamPeer::GetAllocator(IMemAllocator** allocator) {
  *allocator = allocator_.get();
  if (!allocator_) return VFW_E_NO_ALLOCATOR;
  allocator_->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE StreamPeer::NotifyAllocator(IMemAllocator* allocator, BOOL) {
  if (allocator) allocator->GetProperties(&notified_);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE StreamPeer::Receive(IMediaSample* sample) {
  Sample record;
  record.arrival = ::GetTickCount64();
  record.hasTime = sample->GetTime(&record.start, &record.end) == S_OK;
  record.size = sample->GetSize();
  BYTE* data = nullptr;
  if (SUCCEEDED(sample->GetPointer(&data)) && data && record.size > 0) {
    record.firstByte = data[0];
    if (keepPixels_) record.bytes.assign(data, data + record.size);
  }
  SectionLockHolder hold(&lock_);
  received_.push_back(record);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE StreamPeer::ReceiveMultiple(IMediaSample** samples, long count, long* done) {
  *done = 0;
  for (long i = 0; i < count; ++i, ++*done) Receive(samples[i]);
  return S_OK;
}

HRESULT StreamPeer::ShrinkBuffers(LONG bytes) {
  if (!allocator_) return E_UNEXPECTED;
  ALLOCATOR_PROPERTIES request = {};
  HRESULT hr = allocator_->GetProperties(&request);
  if (FAILED(hr)) return hr;
  request.cbBuffer = bytes;
  ALLOCATOR_PROPERTIES actual = {};
  return allocator_->SetProperties(&request, &actual);
}

size_t StreamPeer::ReceivedCount() {
  SectionLockHolder hold(&lock_);
  return received_.size();
}

std::vector<StreamPeer::Sample> StreamPeer::Received() {
  SectionLockHolder hold(&lock_);
  return received_;
}

bool StreamPeer::WaitForReceived(size_t count, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (ReceivedCount() < count) {
    if (::GetTickCount64() > deadline) return false;
    ::Sleep(2);
  }
  return true;
}

bool StreamPeer::WaitForEndOfStream(DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (endOfStreams_ == 0) {
    if (::GetTickCount64() > deadline) return false;
    ::Sleep(2);
  }
  return true;
}
