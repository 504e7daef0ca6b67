#include "format/output_pin.h"

CBaseOutputPin::CBaseOutputPin(CBaseFilter* filter, SectionLock* lock, LPCWSTR name) noexcept
    : CBasePin(filter, lock, name, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() = default;

HRESULT CBaseOutputPin::Activate() {
  if (!allocator_) return VFW_E_NO_ALLOCATOR;
  return allocator_->Commit();
}

HRESULT CBaseOutputPin::Deactivate() {
  if (!allocator_) return VFW_E_NO_ALLOCATOR;
  return allocator_->Decommit();
}

HRESULT CBaseOutputPin::ValidatePeer(IPin* peer) {
  PIN_DIRECTION direction = PINDIR_INPUT;
  HRESULT hr = peer->QueryDirection(&direction);
  if (FAILED(hr)) return hr;
  if (direction == Direction()) return VFW_E_INVALID_DIRECTION;
  hr = peer->QueryInterface(IID_IMemInputPin, peerInput_.put_void());
  if (FAILED(hr)) {
    peerInput_.reset();
    return hr;
  }
  return peerInput_ ? S_OK : E_NOINTERFACE;
}

HRESULT CBaseOutputPin::FinishConnect(IPin*) { return ChooseAllocator(peerInput_.get(), allocator_.put()); }

HRESULT CBaseOutputPin::ReleasePeer() {
  if (allocator_) {
    // A decommit that fails keeps the connection's resources as they are.
    const HRESULT hr = allocator_->Decommit();
    if (FAILED(hr)) return hr;
    allocator_.reset();
  }
  peerInput_.reset();
  return S_OK;
}

HRESULT CBaseOutputPin::ChooseAllocator(IMemInputPin* input, IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  *allocator = nullptr;
  if (!input) return E_POINTER;
  ALLOCATOR_PROPERTIES request = {};
  input->GetAllocatorRequirements(&request);
  if (request.cbAlign == 0) request.cbAlign = 1;

  // The input pin's own allocator first; any refusal there only sends us to ours.
  ComPtr<IMemAllocator> chosen;
  if (SUCCEEDED(input->GetAllocator(chosen.put())) && chosen && SUCCEEDED(SizeBuffers(chosen.get(), &request)) &&
      SUCCEEDED(input->NotifyAllocator(chosen.get(), FALSE))) {
    *allocator = chosen.detach();
    return S_OK;
  }
  chosen.reset();

  HRESULT hr = CreateOwnAllocator(chosen.put());
  if (FAILED(hr)) return hr;
  if (!chosen) return E_NOINTERFACE;
  hr = SizeBuffers(chosen.get(), &request);
  if (FAILED(hr)) return hr;
  hr = input->NotifyAllocator(chosen.get(), FALSE);
  if (FAILED(hr)) return hr;
  *allocator = chosen.detach();
  return S_OK;
}

HRESULT CBaseOutputPin::CreateOwnAllocator(IMemAllocator** allocator) {
  return ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                            reinterpret_cast<void**>(allocator));
}

HRESULT CBaseOutputPin::AcquireSample(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                      DWORD flags) {
  if (!allocator_) return E_NOINTERFACE;
  return allocator_->GetBuffer(sample, start, stop, flags);
}

HRESULT CBaseOutputPin::DeliverSample(IMediaSample* sample) {
  if (!peerInput_) return VFW_E_NOT_CONNECTED;
  return peerInput_->Receive(sample);
}

HRESULT CBaseOutputPin::SendEndOfStream() {
  if (!IsConnected()) return VFW_E_NOT_CONNECTED;
  return Peer()->EndOfStream();
}

HRESULT CBaseOutputPin::SendBeginFlush() {
  if (!IsConnected()) return VFW_E_NOT_CONNECTED;
  return Peer()->BeginFlush();
}

HRESULT CBaseOutputPin::SendEndFlush() {
  if (!IsConnected()) return VFW_E_NOT_CONNECTED;
  return Peer()->EndFlush();
}

HRESULT CBaseOutputPin::SendNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  if (!IsConnected()) return VFW_E_NOT_CONNECTED;
  return Peer()->NewSegment(start, stop, rate);
}
