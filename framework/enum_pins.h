#pragma once
// CEnumPins: IEnumPins over a filter's pins. It asks the filter for each pin as it goes and
// resynchronises when the filter's pin list version changes.
//
// Holds one reference on the filter; counts its own references (1 at creation, freed at
// 0). ReturnedPins holds no references. No lock of its own: one enumerator is not shared
// between threads without the caller's coordination.

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <vector>

class CBaseFilter;
class CBasePin;

class CEnumPins : public IEnumPins {
 public:
  // A new enumerator at the first pin; *out holds its one reference, null when out of memory.
  static HRESULT Create(CBaseFilter* filter, IEnumPins** out) noexcept;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumPins** clone) override;
  virtual ~CEnumPins();

 private:
  explicit CEnumPins(CBaseFilter* filter) noexcept;
  bool Returned(const CBasePin* pin) const noexcept;
  void Remember(CBasePin* pin) noexcept;

  LONG position_ = 0;
  LONG syncedPinCount_ = 0;
  CBaseFilter* const filter_;
  LONG version_ = 0;
  std::atomic<LONG> refCount_{1};
  std::vector<CBasePin*> returnedPins_;
};
