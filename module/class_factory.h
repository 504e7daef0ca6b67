#pragma once
// The module's class table and the class factory that creates its objects.

#include <windows.h>
#include <unknwn.h>

#include <atomic>

#include "framework/unknown.h"
#include "module/filter_registration.h"

using CreateFunction = CUnknown* (*)(IUnknown* outer, HRESULT* result);
using InitFunction = void (*)(BOOL loading, const CLSID* classId);

struct FactoryTemplate {
  const wchar_t* name;
  const CLSID* classId;
  CreateFunction create;
  InitFunction InitRoutine;
  const FilterRegistration* registration;  // null for a class that is no filter (the page)
};

extern const FactoryTemplate TemplateTable[];
extern const int TemplateCount;

// Outstanding IClassFactory::LockServer(TRUE) calls; may go below zero. Changed by any
// thread, read by DllCanUnloadNow.
extern std::atomic<LONG> ServerLockCount;

// Creates objects of one template entry. Its own reference count; counts as a live object.
class CClassFactory : public IClassFactory, public CBaseObject {
 public:
  explicit CClassFactory(const FactoryTemplate* entry) noexcept : template_(entry) {}
  virtual ~CClassFactory() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  const FactoryTemplate* const template_;
  std::atomic<LONG> refCount_{0};
};
