#pragma once
// CBasePin: IPin and IQualityControl with the connection protocol. Derived pins supply the
// media type checks and what happens to the peer when a connection is made or dropped.
//
// Owns its name and its connection type; holds one reference on the peer while connected.
// A reference to the pin is a reference to its filter (no reference is held on the filter;
// the filter deletes the pin). The lock is the filter's state lock: it guards the peer,
// the connection type and the quality sink.

#include <windows.h>
#include <dshow.h>

#include <memory>

#include "format/media_type.h"
#include "base/com_ptr.h"
#include "base/section_lock.h"
#include "framework/unknown.h"

class CBaseFilter;

class CBasePin : public CUnknown, public IPin, public IQualityControl {
 public:
  // name may be null; a name that cannot be copied leaves the pin without one.
  CBasePin(CBaseFilter* filter, SectionLock* lock, LPCWSTR name, PIN_DIRECTION direction) noexcept;
  ~CBasePin() override;

  FORWARD_IUNKNOWN_TO_OUTER
  HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override;
  // Forwarded to the filter.
  ULONG STDMETHODCALLTYPE InnerAddRef() override;
  ULONG STDMETHODCALLTYPE InnerRelease() override;

  virtual LONG MediaTypeVersion();
  // Called by the filter when it leaves Stopped (Activate) and when it stops (Deactivate).
  virtual HRESULT Activate();
  virtual HRESULT Deactivate();
  virtual HRESULT NotifyRunning(REFERENCE_TIME start);
  // S_OK accepts the type; anything else refuses it.
  virtual HRESULT VerifyMediaType(const AM_MEDIA_TYPE* type) = 0;
  // Copies type into the connection type.
  virtual HRESULT ApplyMediaType(const AM_MEDIA_TYPE* type);
  virtual HRESULT ValidatePeer(IPin* peer);
  virtual HRESULT ReleasePeer();
  virtual HRESULT FinishConnect(IPin* peer);
  // The type offered at position: S_OK, VFW_S_NO_MORE_ITEMS past the end, or a failure.
  virtual HRESULT MediaTypeAt(int position, MediaType* type) = 0;

  // IPin
  HRESULT STDMETHODCALLTYPE Connect(IPin* receiver, const AM_MEDIA_TYPE* proposed) override;
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
  // IQualityControl
  HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* sender, Quality quality) override;
  HRESULT STDMETHODCALLTYPE SetSink(IQualityControl* sink) override;

  bool IsConnected() const noexcept { return static_cast<bool>(peer_); }
  // The connected pin, or null; no reference is added.
  IPin* Peer() const noexcept { return peer_.get(); }
  // The agreed type; meaningful while connected, read under the lock.
  const MediaType& ConnectionType() const noexcept { return connectionType_; }
  MediaType& ConnectionType() noexcept { return connectionType_; }
  CBaseFilter* Filter() const noexcept { return filter_; }
  SectionLock* Lock() const noexcept { return lock_; }
  PIN_DIRECTION Direction() const noexcept { return direction_; }
  LPCWSTR Name() const noexcept { return name_.get(); }
  IPin* AsPin() noexcept { return this; }

 protected:
  HRESULT NegotiateConnection(IPin* receiver, const AM_MEDIA_TYPE* proposed);
  HRESULT TryEnumeratedTypes(IPin* receiver, const AM_MEDIA_TYPE* proposed, IEnumMediaTypes* types);
  HRESULT ConnectUsingType(IPin* receiver, const AM_MEDIA_TYPE* type);

 private:
  bool FilterStopped() const noexcept;

  std::unique_ptr<WCHAR[]> name_;
  ComPtr<IPin> peer_;
  const PIN_DIRECTION direction_;
  SectionLock* const lock_;
  CBaseFilter* const filter_;
  const LONG mediaTypeVersion_ = 1;
  MediaType connectionType_;
  IQualityControl* qualitySink_ = nullptr;
};
