#pragma once
// ValueBag: a property bag of values as a capture device's registry key stores them (numbers as
// VT_I4, text as VT_BSTR), lent to a filter's IPersistPropertyBag for one Load (it reads them
// as binding the device does: a key it does not hold is not stored) or one Save (it keeps what
// the filter writes, any integer type as a number). It lives on its caller's stack, so it counts
// no references.

#include <windows.h>
#include <ocidl.h>

#include <vector>

#include "preset/preset.h"

namespace dorvantel {

class ValueBag final : public IPropertyBag {
 public:
  ValueBag() = default;
  explicit ValueBag(std::vector<PresetValue> values) : values_(std::move(values)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog* errorLog) override;
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override;

  const std::vector<PresetValue>& values() const noexcept { return values_; }

 private:
  std::vector<PresetValue> values_;
};

}  // namespace dorvantel
