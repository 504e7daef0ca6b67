#include "framework/enum_media_types.h"

#include <new>

#include "format/media_type.h"
#include "framework/base_pin.h"

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin) noexcept : pin_(pin) { pin_->AsPin()->AddRef(); }

CEnumMediaTypes::~CEnumMediaTypes() { pin_->AsPin()->Release(); }

HRESULT CEnumMediaTypes::Create(CBasePin* pin, IEnumMediaTypes** out) noexcept {
  auto* types = new (std::nothrow) CEnumMediaTypes(pin);
  *out = types;
  if (!types) return E_OUTOFMEMORY;
  types->version_ = pin->MediaTypeVersion();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IEnumMediaTypes) || IsEqualIID(iid, IID_IUnknown)) {
    return ExposeInterface(static_cast<IEnumMediaTypes*>(this), out);
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CEnumMediaTypes::AddRef() { return static_cast<ULONG>(++refCount_); }

ULONG STDMETHODCALLTYPE CEnumMediaTypes::Release() {
  const LONG now = --refCount_;
  if (now == 0) delete this;
  return static_cast<ULONG>(now);
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
  if (!types) return E_POINTER;
  if (pin_->MediaTypeVersion() != version_) return VFW_E_ENUM_OUT_OF_SYNC;
  if (fetched) {
    *fetched = 0;
  } else if (count > 1) {
    return E_INVALIDARG;
  }
  ULONG returned = 0;
  while (returned < count) {
    MediaType type;
    if (pin_->MediaTypeAt(position_++, &type) != S_OK) break;
    // The block and the pUnk reference move to the caller's record.
    types[returned] = type.Detach();
    if (!types[returned]) break;
    ++returned;
  }
  if (fetched) *fetched = returned;
  return returned == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Skip(ULONG count) {
  if (count == 0) return S_OK;
  if (pin_->MediaTypeVersion() != version_) return VFW_E_ENUM_OUT_OF_SYNC;
  position_ = static_cast<LONG>(static_cast<ULONG>(position_) + count);
  MediaType type;
  return pin_->MediaTypeAt(position_ - 1, &type) == S_OK ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Reset() {
  position_ = 0;
  version_ = pin_->MediaTypeVersion();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Clone(IEnumMediaTypes** clone) {
  if (!clone) return E_POINTER;
  *clone = nullptr;
  if (pin_->MediaTypeVersion() != version_) return VFW_E_ENUM_OUT_OF_SYNC;
  auto* copy = new (std::nothrow) CEnumMediaTypes(pin_);
  if (!copy) return E_OUTOFMEMORY;
  copy->position_ = position_;
  copy->version_ = version_;
  *clone = copy;
  return S_OK;
}
