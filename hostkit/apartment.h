#pragma once
// ComApartment: the calling thread in a COM apartment for the life of the object. It leaves
// the apartment only when it joined one: a failed CoInitializeEx is not balanced.

#include <objbase.h>

namespace dorvantel {

class ComApartment {
 public:
  explicit ComApartment(DWORD model = COINIT_MULTITHREADED) noexcept : result_(::CoInitializeEx(nullptr, model)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

  HRESULT result() const noexcept { return result_; }
  bool joined() const noexcept { return SUCCEEDED(result_); }

 private:
  HRESULT result_;
};

}  // namespace dorvantel
