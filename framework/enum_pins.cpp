#include "framework/enum_pins.h"

#include <algorithm>
#include <new>

#include "framework/base_filter.h"
#include "framework/base_pin.h"

CEnumPins::CEnumPins(CBaseFilter* filter) noexcept : filter_(filter) { filter_->AddRef(); }

CEnumPins::~CEnumPins() { filter_->Release(); }

HRESULT CEnumPins::Create(CBaseFilter* filter, IEnumPins** out) noexcept {
  auto* pins = new (std::nothrow) CEnumPins(filter);
  *out = pins;
  if (!pins) return E_OUTOFMEMORY;
  pins->version_ = filter->PinListVersion();
  pins->syncedPinCount_ = filter->PinCount();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumPins::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IEnumPins) || IsEqualIID(iid, IID_IUnknown)) {
    return ExposeInterface(static_cast<IEnumPins*>(this), out);
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CEnumPins::AddRef() { return static_cast<ULONG>(++refCount_); }

ULONG STDMETHODCALLTYPE CEnumPins::Release() {
  const LONG now = --refCount_;
  if (now == 0) delete this;
  return static_cast<ULONG>(now);
}

bool CEnumPins::Returned(const CBasePin* pin) const noexcept {
  return std::find(returnedPins_.begin(), returnedPins_.end(), pin) != returnedPins_.end();
}

void CEnumPins::Remember(CBasePin* pin) noexcept {
  // Out of memory the pin is still handed out; it just may be handed out again.
  try {
    returnedPins_.push_back(pin);
  } catch (const std::bad_alloc&) {
  }
}

HRESULT STDMETHODCALLTYPE CEnumPins::Next(ULONG count, IPin** pins, ULONG* fetched) {
  if (!pins) return E_POINTER;
  if (fetched) {
    *fetched = 0;
  } else if (count > 1) {
    return E_INVALIDARG;
  }
  const LONG version = filter_->PinListVersion();
  if (version != version_) {
    // Pins handed out before the change stay remembered and are not handed out again.
    version_ = version;
    syncedPinCount_ = filter_->PinCount();
    position_ = 0;
  }
  ULONG placed = 0;
  while (placed < count && position_ < syncedPinCount_) {
    CBasePin* pin = filter_->PinAt(position_++);
    if (!pin) {
      // The list shrank under us: take back what this call handed out.
      while (placed > 0) {
        --placed;
        pins[placed]->Release();
        pins[placed] = nullptr;
      }
      return VFW_E_ENUM_OUT_OF_SYNC;
    }
    if (Returned(pin)) continue;
    pins[placed] = pin->AsPin();
    pins[placed]->AddRef();
    ++placed;
    Remember(pin);
  }
  if (fetched) *fetched = placed;
  return placed == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Skip(ULONG count) {
  if (filter_->PinListVersion() != version_) return VFW_E_ENUM_OUT_OF_SYNC;
  if (count > static_cast<ULONG>(syncedPinCount_ - position_)) return S_FALSE;
  position_ += count;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Reset() {
  version_ = filter_->PinListVersion();
  syncedPinCount_ = filter_->PinCount();
  position_ = 0;
  returnedPins_.clear();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Clone(IEnumPins** clone) {
  if (!clone) return E_POINTER;
  *clone = nullptr;
  if (filter_->PinListVersion() != version_) return VFW_E_ENUM_OUT_OF_SYNC;
  auto* copy = new (std::nothrow) CEnumPins(filter_);
  if (!copy) return E_OUTOFMEMORY;
  copy->position_ = position_;
  copy->syncedPinCount_ = syncedPinCount_;
  copy->version_ = version_;
  try {
    copy->returnedPins_ = returnedPins_;
  } catch (const std::bad_alloc&) {
    copy->Release();
    return E_OUTOFMEMORY;
  }
  *clone = copy;
  return S_OK;
}
