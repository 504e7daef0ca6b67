#include "framework/unknown.h"

std::atomic<LONG> LiveObjectCount{0};

CUnknown::CUnknown(IUnknown* outer) noexcept
    : outer_(outer ? outer : reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this))) {}

CUnknown::~CUnknown() = default;

HRESULT STDMETHODCALLTYPE CUnknown::InnerQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown)) {
    *out = static_cast<INonDelegatingUnknown*>(this);
    InnerAddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::InnerAddRef() {
  const LONG now = ++refCount_;
  return now > 1 ? static_cast<ULONG>(now) : 1;
}

ULONG STDMETHODCALLTYPE CUnknown::InnerRelease() {
  const LONG now = --refCount_;
  if (now == 0) {
    // Held at 1 while the object dies, so a nested AddRef/Release pair in a destructor
    // cannot bring it to 0 a second time.
    refCount_ = 1;
    delete this;
    return 0;
  }
  const ULONG result = static_cast<ULONG>(now);
  return result > 1 ? result : 1;
}

HRESULT ExposeInterface(IUnknown* p, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = p;
  p->AddRef();
  return S_OK;
}
