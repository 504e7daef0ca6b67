#include "framework/source_filter.h"

#include <algorithm>
#include <new>

#include "format/output_pin.h"

CSource::CSource(IUnknown* outer, const CLSID& clsid) noexcept : CBaseFilter(outer, &stateLock_, clsid) {}

CSource::~CSource() {
  // Last pin first. A pin detaches itself when it dies; detaching here as well keeps the
  // loop finite for a pin class that does not.
  while (pinCount_ != 0) {
    CBaseOutputPin* last = pins_[pinCount_ - 1];
    DetachPin(last);
    delete last;
  }
}

int CSource::PinCount() {
  SectionLockHolder hold(&stateLock_);
  return pinCount_;
}

CBasePin* CSource::PinAt(int index) {
  SectionLockHolder hold(&stateLock_);
  if (index < 0 || index >= pinCount_) return nullptr;
  return pins_[index];
}

HRESULT CSource::AttachPin(CBaseOutputPin* pin) {
  SectionLockHolder hold(&stateLock_);
  std::unique_ptr<CBaseOutputPin*[]> grown(new (std::nothrow) CBaseOutputPin*[pinCount_ + 1]);
  if (!grown) return E_OUTOFMEMORY;
  std::copy(pins_.get(), pins_.get() + pinCount_, grown.get());
  grown[pinCount_] = pin;
  pins_ = std::move(grown);
  ++pinCount_;
  return S_OK;
}

HRESULT CSource::DetachPin(CBaseOutputPin* pin) {
  SectionLockHolder hold(&stateLock_);
  const int index = PinIndexOf(pin);
  if (index < 0) return S_FALSE;
  if (pinCount_ == 1) {
    pins_.reset();
  } else {
    std::copy(pins_.get() + index + 1, pins_.get() + pinCount_, pins_.get() + index);
  }
  --pinCount_;
  return S_OK;
}

int CSource::PinIndexOf(const CBaseOutputPin* pin) const {
  SectionLockHolder hold(&stateLock_);
  for (int i = 0; i < pinCount_; ++i) {
    if (pins_[i] == pin) return i;
  }
  return -1;
}
