#include "hostkit/source_library.h"

#include "hostkit/result_text.h"
#include "module/dorvantel.h"

namespace dorvantel {

namespace {

template <typename Function>
Function Export(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace

std::wstring ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

HRESULT SourceLibrary::Load(const std::wstring& path, std::wstring* error) {
  std::wstring ignored;
  if (!error) error = &ignored;
  path_ = path;
  getClassObject_ = nullptr;
  canUnloadNow_ = nullptr;
  module_.reset();
  if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    *error = L"the capture library " + path + L" is missing";
    return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
  }
  module_.reset(::LoadLibraryW(path.c_str()));
  if (!module_) {
    DWORD code = ::GetLastError();
    *error = L"the capture library " + path + L" cannot be loaded: " + SystemMessage(code);
    return HRESULT_FROM_WIN32(code);
  }
  getClassObject_ = Export<GetClassObjectFn>(module_.get(), "DllGetClassObject");
  if (!getClassObject_) {
    module_.reset();
    *error = L"the capture library " + path + L" exports no DllGetClassObject";
    return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  }
  canUnloadNow_ = Export<CanUnloadNowFn>(module_.get(), "DllCanUnloadNow");
  return S_OK;
}

HRESULT SourceLibrary::GetClassObject(REFCLSID clsid, REFIID iid, void** out) const {
  return getClassObject_ ? getClassObject_(clsid, iid, out) : E_UNEXPECTED;
}

HRESULT SourceLibrary::CanUnloadNow() const { return canUnloadNow_ ? canUnloadNow_() : E_UNEXPECTED; }

HRESULT SourceLibrary::CreateFilter(ComPtr<IBaseFilter>* filter) const {
  ComPtr<IClassFactory> factory;
  HRESULT hr = GetClassObject(CLSID_DesktopSource, IID_IClassFactory, factory.put_void());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(nullptr, IID_IBaseFilter, filter->put_void());
}

}  // namespace dorvantel
