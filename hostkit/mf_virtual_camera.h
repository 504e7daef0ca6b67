#pragma once
// The platform's Windows 11 camera interface, which mingw-w64's headers lack: the three
// enumerations, IMFVirtualCamera in its slot order (IMFAttributes' 30 methods, then its own 11),
// and the signature of MFCreateVirtualCamera, which mfsensorgroup.dll exports from build 22000
// on (looked up at run time: it is not in mingw's import library either). Declarations only:
// the control code (windows_camera.cpp) calls them, the tests' stand-in library implements them.

#include <windows.h>
#include <devpropdef.h>
#include <mfidl.h>
#include <mfobjects.h>

enum MFVirtualCameraType { MFVirtualCameraType_SoftwareCameraSource = 0 };
enum MFVirtualCameraLifetime { MFVirtualCameraLifetime_Session = 0, MFVirtualCameraLifetime_System = 1 };
enum MFVirtualCameraAccess { MFVirtualCameraAccess_CurrentUser = 0, MFVirtualCameraAccess_AllUsers = 1 };

// {6338B23A-3042-49D2-A3EA-EC0FED815407}; only named here (CreateSyncEvent's out-parameter).
struct IMFCameraSyncObject;

struct IMFVirtualCamera : public IMFAttributes {
  virtual HRESULT STDMETHODCALLTYPE AddDeviceSourceInfo(LPCWSTR deviceSourceInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddProperty(const DEVPROPKEY* key, DEVPROPTYPE type, const BYTE* data,
                                                ULONG size) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddRegistryEntry(LPCWSTR entryName, LPCWSTR subkeyPath, DWORD regType,
                                                     const BYTE* data, ULONG size) = 0;
  virtual HRESULT STDMETHODCALLTYPE Start(IMFAsyncCallback* callback) = 0;
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
  virtual HRESULT STDMETHODCALLTYPE Remove() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMediaSource(IMFMediaSource** source) = 0;
  virtual HRESULT STDMETHODCALLTYPE SendCameraProperty(REFGUID propertySet, ULONG propertyId, ULONG propertyFlags,
                                                       void* payload, ULONG payloadLength, void* data,
                                                       ULONG dataLength, ULONG* dataWritten) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateSyncEvent(REFGUID eventSet, ULONG eventId, ULONG eventFlags,
                                                    HANDLE eventHandle, IMFCameraSyncObject** syncObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateSyncSemaphore(REFGUID eventSet, ULONG eventId, ULONG eventFlags,
                                                        HANDLE semaphore, LONG adjustment,
                                                        IMFCameraSyncObject** syncObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;
};

// {1C08A864-EF6C-4C75-AF59-5F2D68DA9563}
__CRT_UUID_DECL(IMFVirtualCamera, 0x1c08a864, 0xef6c, 0x4c75, 0xaf, 0x59, 0x5f, 0x2d, 0x68, 0xda, 0x95, 0x63)

// MFCreateVirtualCamera as mfsensorgroup.dll exports it (STDAPI: stdcall in 32-bit code).
using MFCreateVirtualCameraFunction = HRESULT(STDAPICALLTYPE*)(MFVirtualCameraType type,
                                                               MFVirtualCameraLifetime lifetime,
                                                               MFVirtualCameraAccess access, LPCWSTR friendlyName,
                                                               LPCWSTR sourceId, const GUID* categories,
                                                               ULONG categoryCount, IMFVirtualCamera** camera);
