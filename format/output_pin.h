#pragma once
// CBaseOutputPin: the output side of a connection. Takes the downstream pin's
// IMemInputPin, agrees a sample allocator (the downstream one first, else its own),
// commits and decommits it with the filter's state, and hands out and delivers samples.
//
// Holds one reference on the allocator and one on the peer's IMemInputPin; both are set
// while connecting and cleared by ReleasePeer, under the pin's lock (the filter's state
// lock). They do not change while the filter is active, so the worker reads them without
// the lock.

#include <windows.h>
#include <dshow.h>

#include "framework/base_pin.h"
#include "base/com_ptr.h"

class CBaseOutputPin : public CBasePin {
 public:
  CBaseOutputPin(CBaseFilter* filter, SectionLock* lock, LPCWSTR name) noexcept;
  ~CBaseOutputPin() override;

  // Commits (Activate) or decommits (Deactivate) the allocator; VFW_E_NO_ALLOCATOR without one.
  HRESULT Activate() override;
  HRESULT Deactivate() override;
  HRESULT ValidatePeer(IPin* peer) override;
  HRESULT ReleasePeer() override;
  HRESULT FinishConnect(IPin* peer) override;

  // Agrees an allocator with the input pin; *allocator receives it with one reference.
  virtual HRESULT ChooseAllocator(IMemInputPin* input, IMemAllocator** allocator);
  // Sets the allocator's properties for this pin's samples; request is in and out.
  virtual HRESULT SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
  // An empty sample from the allocator (GetBuffer); E_NOINTERFACE without an allocator.
  virtual HRESULT AcquireSample(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                DWORD flags);
  // Receive on the peer's input pin; the caller keeps its reference to the sample.
  virtual HRESULT DeliverSample(IMediaSample* sample);
  virtual HRESULT CreateOwnAllocator(IMemAllocator** allocator);
  virtual HRESULT SendEndOfStream();
  virtual HRESULT SendBeginFlush();
  virtual HRESULT SendEndFlush();
  virtual HRESULT SendNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

  IMemAllocator* SampleAllocator() const noexcept { return allocator_.get(); }
  IMemInputPin* PeerInputPin() const noexcept { return peerInput_.get(); }

 private:
  ComPtr<IMemAllocator> allocator_;
  ComPtr<IMemInputPin> peerInput_;
};
