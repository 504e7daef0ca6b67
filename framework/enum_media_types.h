#pragma once
// CEnumMediaTypes: IEnumMediaTypes over the types a pin offers through MediaTypeAt. It asks
// the pin for each type as it goes; a change of the pin's media type version makes it
// answer VFW_E_ENUM_OUT_OF_SYNC until Reset.
//
// Holds one reference on the pin (which is a reference on its filter); counts its own
// references (1 at creation, freed at 0). The records it returns belong to the caller.
// No lock of its own; MediaTypeAt takes the pin's lock.

#include <windows.h>
#include <dshow.h>

#include <atomic>

class CBasePin;

class CEnumMediaTypes : public IEnumMediaTypes {
 public:
  // A new enumerator at the first type; *out holds its one reference, null when out of memory.
  static HRESULT Create(CBasePin* pin, IEnumMediaTypes** out) noexcept;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** clone) override;
  virtual ~CEnumMediaTypes();

 private:
  explicit CEnumMediaTypes(CBasePin* pin) noexcept;

  LONG position_ = 0;
  CBasePin* const pin_;
  LONG version_ = 0;
  std::atomic<LONG> refCount_{1};
};
