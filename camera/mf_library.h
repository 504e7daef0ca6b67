#pragma once
// Media Foundation's functions for the camera, found in mfplat.dll at the first use rather than
// imported: the filter's library keeps loading where Media Foundation is missing (Windows N
// editions), and only the camera fails there. The interfaces and attributes mingw-w64 lacks are
// declared here too.

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>

namespace camera {

struct MfLibrary {
  HRESULT(WINAPI* Startup)(ULONG version, DWORD flags);
  HRESULT(WINAPI* Shutdown)();
  HRESULT(WINAPI* CreateAttributes)(IMFAttributes** attributes, UINT32 size);
  HRESULT(WINAPI* CreateEventQueue)(IMFMediaEventQueue** queue);
  HRESULT(WINAPI* CreateMediaType)(IMFMediaType** type);
  HRESULT(WINAPI* CreateStreamDescriptor)(DWORD id, DWORD count, IMFMediaType** types, IMFStreamDescriptor** out);
  HRESULT(WINAPI* CreatePresentationDescriptor)(DWORD count, IMFStreamDescriptor** streams,
                                                IMFPresentationDescriptor** out);
  HRESULT(WINAPI* CreateSample)(IMFSample** sample);
  HRESULT(WINAPI* CreateMemoryBuffer)(DWORD length, IMFMediaBuffer** buffer);
  MFTIME(WINAPI* GetSystemTime)();
};

// The functions, or null when mfplat.dll or one of them is missing. The library stays loaded
// for the life of the process once found.
const MfLibrary* Mf() noexcept;

}  // namespace camera

// {C5BC37D6-75C7-46A1-A132-81B5F723C20F}
inline constexpr IID IID_CameraMediaStream2 = {0xc5bc37d6, 0x75c7, 0x46a1, {0xa1, 0x32, 0x81, 0xb5, 0xf7, 0x23, 0xc2, 0x0f}};
struct IMFMediaStream2Declared : public IMFMediaStream {
  virtual HRESULT STDMETHODCALLTYPE SetStreamState(MF_STREAM_STATE value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStreamState(MF_STREAM_STATE* value) = 0;
};

// {DA62B958-3A38-4A97-BD27-149C640C0771}
inline constexpr IID IID_CameraSampleAllocatorControl = {
    0xda62b958, 0x3a38, 0x4a97, {0xbd, 0x27, 0x14, 0x9c, 0x64, 0x0c, 0x07, 0x71}};
enum CameraAllocatorUsage { CameraUsesProvidedAllocator = 0, CameraUsesCustomAllocator = 1, CameraDoesNotAllocate = 2 };
struct IMFSampleAllocatorControlDeclared : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetDefaultAllocator(DWORD outputStreamId, IUnknown* allocator) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAllocatorUsage(DWORD outputStreamId, DWORD* inputStreamId,
                                                      CameraAllocatorUsage* usage) = 0;
};

// IKsControl, through which camera controls reach the source.
// {28F54685-06FD-11D2-B27A-00A0C9223196}
inline constexpr IID IID_CameraKsControl = {0x28f54685, 0x06fd, 0x11d2, {0xb2, 0x7a, 0x00, 0xa0, 0xc9, 0x22, 0x31, 0x96}};
struct alignas(8) CameraKsIdentifier {
  GUID Set;
  ULONG Id;
  ULONG Flags;
};
struct IKsControlDeclared : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE KsProperty(CameraKsIdentifier* property, ULONG propertyLength, void* data,
                                               ULONG dataLength, ULONG* bytesReturned) = 0;
  virtual HRESULT STDMETHODCALLTYPE KsMethod(CameraKsIdentifier* method, ULONG methodLength, void* data,
                                             ULONG dataLength, ULONG* bytesReturned) = 0;
  virtual HRESULT STDMETHODCALLTYPE KsEvent(CameraKsIdentifier* event, ULONG eventLength, void* data, ULONG dataLength,
                                            ULONG* bytesReturned) = 0;
};

// The stream attributes the Frame Server reads.
inline constexpr GUID CAMERA_DEVICESTREAM_STREAM_CATEGORY = {
    0x2939e7b8, 0xa62e, 0x4579, {0xb6, 0x74, 0xd4, 0x07, 0x3d, 0xfa, 0xbb, 0xba}};
inline constexpr GUID CAMERA_DEVICESTREAM_STREAM_ID = {
    0x11bd5120, 0xd124, 0x446b, {0x88, 0xe6, 0x17, 0x06, 0x02, 0x57, 0xff, 0xf9}};
inline constexpr GUID CAMERA_DEVICESTREAM_FRAMESERVER_SHARED = {
    0x1cb378e9, 0xb279, 0x41d4, {0xaf, 0x97, 0x34, 0xa2, 0x43, 0xe6, 0x83, 0x20}};
inline constexpr GUID CAMERA_DEVICESTREAM_ATTRIBUTE_FRAMESOURCE_TYPES = {
    0x17145fd1, 0x1b2b, 0x423c, {0x80, 0x01, 0x2b, 0x68, 0x33, 0xed, 0x35, 0x88}};
inline constexpr UINT32 kFrameSourceTypesColor = 0x0001;
// PINNAME_VIDEO_CAPTURE
inline constexpr GUID CAMERA_PINNAME_VIDEO_CAPTURE = {
    0xfb6c4281, 0x0353, 0x11d1, {0x90, 0x5f, 0x00, 0x00, 0xc0, 0xcc, 0x16, 0xba}};
