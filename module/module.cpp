// The library's entry points: DllMain, DllGetClassObject and DllCanUnloadNow.

#include <windows.h>
#include <objbase.h>

#include <new>

#include "module/class_factory.h"

static BOOL ModuleEntry(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      ::DisableThreadLibraryCalls(instance);
      for (int i = 0; i < TemplateCount; ++i) {
        if (TemplateTable[i].InitRoutine) TemplateTable[i].InitRoutine(TRUE, TemplateTable[i].classId);
      }
      break;
    case DLL_PROCESS_DETACH:
      for (int i = 0; i < TemplateCount; ++i) {
        if (TemplateTable[i].InitRoutine) TemplateTable[i].InitRoutine(FALSE, TemplateTable[i].classId);
      }
      break;
    default:
      break;
  }
  return TRUE;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  return ModuleEntry(instance, reason, reserved);
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID classId, REFIID iid, LPVOID* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
  for (int i = 0; i < TemplateCount; ++i) {
    if (!IsEqualCLSID(*TemplateTable[i].classId, classId)) continue;
    auto* factory = new (std::nothrow) CClassFactory(&TemplateTable[i]);
    if (!factory) return E_OUTOFMEMORY;
    *out = static_cast<IClassFactory*>(factory);
    factory->AddRef();
    return S_OK;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  // A negative lock count (more unlocks than locks) counts as no lock.
  return (ServerLockCount > 0 || LiveObjectCount != 0) ? S_FALSE : S_OK;
}
