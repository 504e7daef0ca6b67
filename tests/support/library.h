#pragma once
// The built library loaded by its path, as a host loads it: LoadLibrary and
// DllGetClassObject, no registry.

#include <windows.h>
#include <dshow.h>

#include "framework/com_ptr.h"

class LoadedLibrary {
 public:
  LoadedLibrary();
  ~LoadedLibrary();
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  bool loaded() const { return module_ != nullptr; }
  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) const;
  HRESULT CanUnloadNow() const;
  // A new filter from the library's class factory.
  HRESULT CreateFilter(ComPtr<IBaseFilter>* filter) const;

 private:
  HMODULE module_ = nullptr;
  HRESULT(STDAPICALLTYPE* getClassObject_)(REFCLSID, REFIID, LPVOID*) = nullptr;
  HRESULT(STDAPICALLTYPE* canUnloadNow_)() = nullptr;
};

// {924BCD16-2927-4D6B-A385-476A9C4D41B7}
extern const CLSID kDesktopSourceClsid;

// Initialises COM (multithreaded) for the calling thread while it lives.
class ComApartment {
 public:
  ComApartment() { ::CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  ~ComApartment() { ::CoUninitialize(); }
};
