#pragma once
// CSource: a filter whose pins are output pins it owns.
//
// Owns the state lock, which is the filter's lock and the lock of every pin, and the pin
// array with the pins in it. Pins attach themselves when constructed and detach when
// destroyed; the destructor deletes the remaining pins, the last one first. The state lock
// guards the pin array: QueryId reaches PinIndexOf on any thread while pins attach.

#include <windows.h>
#include <dshow.h>

#include <memory>

#include "framework/base_filter.h"
#include "base/section_lock.h"

class CBaseOutputPin;

class CSource : public CBaseFilter {
 public:
  CSource(IUnknown* outer, const CLSID& clsid) noexcept;
  ~CSource() override;

  int PinCount() override;
  CBasePin* PinAt(int index) override;

  // E_OUTOFMEMORY when the array cannot grow; then nothing changes.
  HRESULT AttachPin(CBaseOutputPin* pin);
  // S_FALSE when the pin is not in the array.
  HRESULT DetachPin(CBaseOutputPin* pin);
  // Zero-based position of the pin, or -1.
  int PinIndexOf(const CBaseOutputPin* pin) const;

  SectionLock* StateLock() noexcept { return &stateLock_; }

 private:
  mutable SectionLock stateLock_;
  int pinCount_ = 0;
  std::unique_ptr<CBaseOutputPin*[]> pins_;
};
