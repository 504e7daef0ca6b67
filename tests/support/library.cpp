#include "tests/support/library.h"

#include <string>

const CLSID kDesktopSourceClsid = {0x924bcd16, 0x2927, 0x4d6b, {0xa3, 0x85, 0x47, 0x6a, 0x9c, 0x4d, 0x41, 0xb7}};

LoadedLibrary::LoadedLibrary() {
  // The test programs live in tests/ below the folder of the library.
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, length);
  dir.erase(dir.find_last_of(L"\\/") + 1);
  module_ = ::LoadLibraryW((dir + L"..\\" DORVANTEL_DLL_NAME).c_str());
  if (!module_) return;
  getClassObject_ = reinterpret_cast<decltype(getClassObject_)>(
      reinterpret_cast<void*>(::GetProcAddress(module_, "DllGetClassObject")));
  canUnloadNow_ = reinterpret_cast<decltype(canUnloadNow_)>(
      reinterpret_cast<void*>(::GetProcAddress(module_, "DllCanUnloadNow")));
}

LoadedLibrary::~LoadedLibrary() {
  if (module_) ::FreeLibrary(module_);
}

HRESULT LoadedLibrary::GetClassObject(REFCLSID clsid, REFIID iid, void** out) const {
  return getClassObject_ ? getClassObject_(clsid, iid, out) : E_UNEXPECTED;
}

HRESULT LoadedLibrary::CanUnloadNow() const { return canUnloadNow_ ? canUnloadNow_() : E_UNEXPECTED; }

HRESULT LoadedLibrary::CreateFilter(ComPtr<IBaseFilter>* filter) const {
  ComPtr<IClassFactory> factory;
  HRESULT hr = GetClassObject(kDesktopSourceClsid, IID_IClassFactory, factory.put_void());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(nullptr, IID_IBaseFilter, filter->put_void());
}
