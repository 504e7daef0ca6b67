#include "framework/base_pin.h"

#include <cwchar>
#include <new>

#include "framework/base_filter.h"
#include "framework/enum_media_types.h"
#include "framework/info_name.h"

namespace {

constexpr size_t kNameBound = 0x7FFFFFFF;

// Failures that only say "not this type"; the connection search goes on past them and
// reports something more specific if it meets it.
bool IsPlainRefusal(HRESULT hr) {
  return hr == E_FAIL || hr == E_INVALIDARG || hr == VFW_E_TYPE_NOT_ACCEPTED;
}

// VerifyMediaType's answer as a connection result: anything but S_OK refuses the type.
HRESULT AsConnectionRefusal(HRESULT hr) {
  if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) return VFW_E_TYPE_NOT_ACCEPTED;
  return hr;
}

}  // namespace

CBasePin::CBasePin(CBaseFilter* filter, SectionLock* lock, LPCWSTR name, PIN_DIRECTION direction) noexcept
    : CUnknown(nullptr), direction_(direction), lock_(lock), filter_(filter) {
  if (!name) return;
  const size_t length = wcsnlen(name, kNameBound);
  if (length == kNameBound) return;
  name_.reset(new (std::nothrow) WCHAR[length + 1]);
  if (name_) std::wmemcpy(name_.get(), name, length + 1);
}

CBasePin::~CBasePin() = default;

HRESULT STDMETHODCALLTYPE CBasePin::InnerQueryInterface(REFIID iid, void** out) {
  if (IsEqualIID(iid, IID_IPin)) return ExposeInterface(static_cast<IPin*>(this), out);
  if (IsEqualIID(iid, IID_IQualityControl)) return ExposeInterface(static_cast<IQualityControl*>(this), out);
  return CUnknown::InnerQueryInterface(iid, out);
}

// A pin without a filter is owned by whoever made it and counts nothing.
ULONG STDMETHODCALLTYPE CBasePin::InnerAddRef() { return filter_ ? filter_->AddRef() : 1; }

ULONG STDMETHODCALLTYPE CBasePin::InnerRelease() { return filter_ ? filter_->Release() : 1; }

LONG CBasePin::MediaTypeVersion() { return mediaTypeVersion_; }
HRESULT CBasePin::Activate() { return S_OK; }
HRESULT CBasePin::Deactivate() { return S_OK; }
HRESULT CBasePin::NotifyRunning(REFERENCE_TIME) { return S_OK; }

HRESULT CBasePin::ApplyMediaType(const AM_MEDIA_TYPE* type) {
  const HRESULT hr = connectionType_.Assign(*type);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CBasePin::ValidatePeer(IPin*) { return S_OK; }
HRESULT CBasePin::ReleasePeer() { return S_OK; }
HRESULT CBasePin::FinishConnect(IPin*) { return S_OK; }

bool CBasePin::FilterStopped() const noexcept { return !filter_ || filter_->State() == State_Stopped; }

HRESULT STDMETHODCALLTYPE CBasePin::Connect(IPin* receiver, const AM_MEDIA_TYPE* proposed) {
  if (!receiver) return E_POINTER;
  SectionLockHolder hold(lock_);
  if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
  if (!FilterStopped()) return VFW_E_NOT_STOPPED;
  const HRESULT hr = NegotiateConnection(receiver, proposed);
  if (FAILED(hr)) {
    ReleasePeer();
    return hr;
  }
  return S_OK;
}

HRESULT CBasePin::NegotiateConnection(IPin* receiver, const AM_MEDIA_TYPE* proposed) {
  if (proposed && !IsIncomplete(*proposed)) return ConnectUsingType(receiver, proposed);
  HRESULT remembered = VFW_E_NO_ACCEPTABLE_TYPES;
  // The receiving pin's types first, then our own.
  IPin* const lists[] = {receiver, AsPin()};
  for (IPin* list : lists) {
    ComPtr<IEnumMediaTypes> types;
    if (FAILED(list->EnumMediaTypes(types.put())) || !types) continue;
    const HRESULT hr = TryEnumeratedTypes(receiver, proposed, types.get());
    types.reset();
    if (SUCCEEDED(hr)) return S_OK;
    // A pass that met nothing specific keeps what an earlier pass met.
    if (!IsPlainRefusal(hr) && hr != VFW_E_NO_ACCEPTABLE_TYPES) remembered = hr;
  }
  return remembered;
}

HRESULT CBasePin::TryEnumeratedTypes(IPin* receiver, const AM_MEDIA_TYPE* proposed, IEnumMediaTypes* types) {
  HRESULT hr = types->Reset();
  if (FAILED(hr)) return hr;
  HRESULT firstFailure = S_OK;
  for (;;) {
    AM_MEDIA_TYPE* type = nullptr;
    ULONG fetched = 0;
    if (types->Next(1, &type, &fetched) != S_OK) {
      // A misbehaving enumerator may still have handed something out.
      DestroyMediaType(type);
      return FAILED(firstFailure) ? firstFailure : VFW_E_NO_ACCEPTABLE_TYPES;
    }
    HRESULT outcome = VFW_E_NO_ACCEPTABLE_TYPES;
    if (type && (!proposed || MatchesPattern(*type, *proposed))) {
      outcome = ConnectUsingType(receiver, type);
      if (FAILED(outcome) && SUCCEEDED(firstFailure) && !IsPlainRefusal(outcome)) firstFailure = outcome;
    }
    DestroyMediaType(type);
    if (outcome == S_OK) return S_OK;
  }
}

HRESULT CBasePin::ConnectUsingType(IPin* receiver, const AM_MEDIA_TYPE* type) {
  HRESULT hr = ValidatePeer(receiver);
  if (FAILED(hr)) {
    ReleasePeer();
    return hr;
  }
  hr = VerifyMediaType(type);
  if (hr != S_OK) {
    ReleasePeer();
    peer_.reset();
    return AsConnectionRefusal(hr);
  }
  peer_ = ComPtr<IPin>(receiver);
  hr = ApplyMediaType(type);
  if (SUCCEEDED(hr)) {
    hr = receiver->ReceiveConnection(AsPin(), type);
    if (SUCCEEDED(hr)) {
      hr = FinishConnect(receiver);
      if (SUCCEEDED(hr)) return hr;
      receiver->Disconnect();
    }
  }
  ReleasePeer();
  peer_.reset();
  return hr;
}

HRESULT STDMETHODCALLTYPE CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
  if (!connector || !type) return E_POINTER;
  SectionLockHolder hold(lock_);
  if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
  if (!FilterStopped()) return VFW_E_NOT_STOPPED;
  HRESULT hr = ValidatePeer(connector);
  if (FAILED(hr)) {
    ReleasePeer();
    return hr;
  }
  hr = VerifyMediaType(type);
  if (hr != S_OK) {
    ReleasePeer();
    return AsConnectionRefusal(hr);
  }
  peer_ = ComPtr<IPin>(connector);
  hr = ApplyMediaType(type);
  if (SUCCEEDED(hr)) hr = FinishConnect(connector);
  if (SUCCEEDED(hr)) return S_OK;
  peer_.reset();
  ReleasePeer();
  return hr;
}

HRESULT STDMETHODCALLTYPE CBasePin::Disconnect() {
  SectionLockHolder hold(lock_);
  if (!FilterStopped()) return VFW_E_NOT_STOPPED;
  if (!IsConnected()) return S_FALSE;
  const HRESULT hr = ReleasePeer();
  if (FAILED(hr)) return hr;
  peer_.reset();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  // Under the lock: Disconnect releases the peer on another thread.
  SectionLockHolder hold(lock_);
  *pin = peer_.get();
  if (!*pin) return VFW_E_NOT_CONNECTED;
  (*pin)->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  SectionLockHolder hold(lock_);
  if (!IsConnected()) {
    InitMediaType(type);
    return VFW_E_NOT_CONNECTED;
  }
  return DuplicateMediaType(type, &connectionType_);
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = filter_;
  if (filter_) filter_->AddRef();
  CopyInfoName(name_.get(), info->achName);
  info->dir = direction_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  *direction = direction_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  *id = nullptr;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  const HRESULT hr = VerifyMediaType(type);
  return FAILED(hr) ? S_FALSE : hr;
}

HRESULT STDMETHODCALLTYPE CBasePin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (!types) return E_POINTER;
  return CEnumMediaTypes::Create(this, types);
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

// This system's pins send the stream; they do not receive its control.
HRESULT STDMETHODCALLTYPE CBasePin::EndOfStream() { return E_UNEXPECTED; }
HRESULT STDMETHODCALLTYPE CBasePin::BeginFlush() { return E_UNEXPECTED; }
HRESULT STDMETHODCALLTYPE CBasePin::EndFlush() { return E_UNEXPECTED; }

HRESULT STDMETHODCALLTYPE CBasePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

HRESULT STDMETHODCALLTYPE CBasePin::Notify(IBaseFilter*, Quality) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE CBasePin::SetSink(IQualityControl* sink) {
  SectionLockHolder hold(lock_);
  qualitySink_ = sink;
  return S_OK;
}
