#pragma once
// SourceLibrary: the desktop source's library loaded from a path, as a host loads it
// (LoadLibraryW and its DllGetClassObject, no registry). It owns the loaded module; keep it
// alive until every object the library made is released.

#include <windows.h>
#include <dshow.h>

#include <string>

#include "base/com_ptr.h"
#include "base/handles.h"

namespace dorvantel {

// The folder of this program's executable, ending in a backslash.
std::wstring ProgramFolder();

class SourceLibrary {
 public:
  // error, when given: one line for the user when the library is missing, cannot be loaded
  // or exports no DllGetClassObject.
  HRESULT Load(const std::wstring& path, std::wstring* error = nullptr);
  bool loaded() const noexcept { return module_.valid(); }
  const std::wstring& path() const noexcept { return path_; }

  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) const;
  // The library's DllCanUnloadNow: S_OK once nothing it made is alive.
  HRESULT CanUnloadNow() const;
  // A new desktop source from the library's class factory.
  HRESULT CreateFilter(ComPtr<IBaseFilter>* filter) const;

 private:
  using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

  LibraryHandle module_;
  std::wstring path_;
  GetClassObjectFn getClassObject_ = nullptr;
  CanUnloadNowFn canUnloadNow_ = nullptr;
};

}  // namespace dorvantel
