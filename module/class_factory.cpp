#include "module/class_factory.h"

#include <new>

#include "base/camera_link.h"
#include "camera/camera_source.h"
#include "capture/desktop_source.h"
#include "page/property_page.h"

const FactoryTemplate TemplateTable[] = {
    {DesktopSourceName, &CLSID_DesktopSource, CreateDesktopSource, nullptr, &DesktopSourceRegistration},
    {DesktopSourcePageName, &CLSID_DesktopSourcePage, dorvantel::CreateDesktopSourcePage, nullptr, nullptr},
    // The Windows 11 camera's media source: an IMFActivate (camera/camera_source.h).
    {camera_link::kCameraClassName, &camera_link::CLSID_DorvantelCamera, CreateCameraActivate, nullptr, nullptr},
};
const int TemplateCount = sizeof(TemplateTable) / sizeof(TemplateTable[0]);

std::atomic<LONG> ServerLockCount{0};

HRESULT STDMETHODCALLTYPE CClassFactory::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
  *out = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE CClassFactory::AddRef() { return static_cast<ULONG>(++refCount_); }

ULONG STDMETHODCALLTYPE CClassFactory::Release() {
  const LONG now = --refCount_;
  if (now == 0) delete this;
  return static_cast<ULONG>(now);
}

HRESULT STDMETHODCALLTYPE CClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  // Aggregation is offered for the inner unknown only.
  if (outer && !IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;

  HRESULT result = S_OK;
  CUnknown* object = template_->create(outer, &result);
  if (!object) return FAILED(result) ? result : E_OUTOFMEMORY;
  if (FAILED(result)) {
    delete object;
    return result;
  }
  // The caller ends up with exactly the reference the query gives; a failed query
  // brings the count back to 0 and the object dies.
  object->InnerAddRef();
  const HRESULT hr = object->InnerQueryInterface(iid, out);
  object->InnerRelease();
  return hr;
}

HRESULT STDMETHODCALLTYPE CClassFactory::LockServer(BOOL lock) {
  if (lock) {
    ++ServerLockCount;
  } else {
    --ServerLockCount;
  }
  return S_OK;
}
