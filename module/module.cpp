// The library's entry points.

#include <windows.h>
#include <objbase.h>

#include "framework/unknown.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) ::DisableThreadLibraryCalls(instance);
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return LiveObjectCount == 0 ? S_OK : S_FALSE;
}
