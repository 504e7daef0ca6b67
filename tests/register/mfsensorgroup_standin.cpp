// A stand-in for the platform's mfsensorgroup.dll, for the register tool's camera tests
// (camera.sh): MFCreateVirtualCamera hands out a camera object that records every call and its
// arguments, one line each, appended to the file DORVANTEL_CAMERA_LOG names. The object's table
// is laid out here slot by slot from the platform's published order, independently of the
// control code's declaration (hostkit/mf_virtual_camera.h), so that a slot out of place there
// shows up as the wrong call in the log. DORVANTEL_CAMERA_FAIL=NAME makes that method (a
// method's name, or MFCreateVirtualCamera) fail with E_ACCESSDENIED, as a camera privacy
// setting that denies desktop apps would.

#include <windows.h>
#include <objbase.h>

#include <string>

namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(name, value, MAX_PATH);
  return length > 0 && length < MAX_PATH ? value : L"";
}

void Log(const std::wstring& line) {
  const std::wstring path = Environment(L"DORVANTEL_CAMERA_LOG");
  if (path.empty()) return;
  const std::wstring text = line + L"\n";
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
  HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(file);
}

// What a call answers: E_ACCESSDENIED for the method DORVANTEL_CAMERA_FAIL names.
HRESULT Answer(const wchar_t* method) { return Environment(L"DORVANTEL_CAMERA_FAIL") == method ? E_ACCESSDENIED : S_OK; }

std::wstring GuidText(const GUID* guid) {
  if (!guid) return L"null";
  wchar_t text[40] = {};
  ::StringFromGUID2(*guid, text, 40);
  return text;
}

std::wstring Text(const wchar_t* text) { return text ? L"\"" + std::wstring(text) + L"\"" : L"null"; }

struct Camera;
using Slot = void*;

// The camera's table, in the platform's order: IUnknown (3), IMFAttributes (30), then
// IMFVirtualCamera's own (11).
struct Camera {
  const Slot* table;
  LONG references;
};

#define SELF Camera* self
HRESULT STDMETHODCALLTYPE QueryInterface(SELF, REFIID iid, void** out) {
  // IUnknown, IMFAttributes {2CD2D921-C447-44A7-A13C-4ADABFC247E3}, IMFVirtualCamera.
  static const GUID kAttributes = {0x2cd2d921, 0xc447, 0x44a7, {0xa1, 0x3c, 0x4a, 0xda, 0xbf, 0xc2, 0x47, 0xe3}};
  static const GUID kCamera = {0x1c08a864, 0xef6c, 0x4c75, {0xaf, 0x59, 0x5f, 0x2d, 0x68, 0xda, 0x95, 0x63}};
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IUnknown && iid != kAttributes && iid != kCamera) return E_NOINTERFACE;
  ::InterlockedIncrement(&self->references);
  *out = self;
  return S_OK;
}
ULONG STDMETHODCALLTYPE AddRef(SELF) { return static_cast<ULONG>(::InterlockedIncrement(&self->references)); }
ULONG STDMETHODCALLTYPE Release(SELF) {
  const LONG left = ::InterlockedDecrement(&self->references);
  if (left == 0) {
    Log(L"Release (the last reference)");
    delete self;
  }
  return static_cast<ULONG>(left);
}

// IMFAttributes: the getters find nothing, the setters are recorded.
constexpr HRESULT kNotFound = static_cast<HRESULT>(0xC00D36E6);  // MF_E_ATTRIBUTENOTFOUND
HRESULT Got(const wchar_t* method, const GUID* key) {
  Log(std::wstring(method) + L" " + GuidText(key));
  return kNotFound;
}
HRESULT STDMETHODCALLTYPE GetItem(SELF, const GUID* key, void*) { return Got(L"GetItem", key); }
HRESULT STDMETHODCALLTYPE GetItemType(SELF, const GUID* key, void*) { return Got(L"GetItemType", key); }
HRESULT STDMETHODCALLTYPE CompareItem(SELF, const GUID* key, const void*, BOOL*) { return Got(L"CompareItem", key); }
HRESULT STDMETHODCALLTYPE Compare(SELF, void*, int, BOOL*) { return Got(L"Compare", nullptr); }
HRESULT STDMETHODCALLTYPE GetUINT32(SELF, const GUID* key, UINT32*) { return Got(L"GetUINT32", key); }
HRESULT STDMETHODCALLTYPE GetUINT64(SELF, const GUID* key, UINT64*) { return Got(L"GetUINT64", key); }
HRESULT STDMETHODCALLTYPE GetDouble(SELF, const GUID* key, double*) { return Got(L"GetDouble", key); }
HRESULT STDMETHODCALLTYPE GetGUID(SELF, const GUID* key, GUID*) { return Got(L"GetGUID", key); }
HRESULT STDMETHODCALLTYPE GetStringLength(SELF, const GUID* key, UINT32*) { return Got(L"GetStringLength", key); }
HRESULT STDMETHODCALLTYPE GetString(SELF, const GUID* key, wchar_t*, UINT32, UINT32*) { return Got(L"GetString", key); }
HRESULT STDMETHODCALLTYPE GetAllocatedString(SELF, const GUID* key, wchar_t**, UINT32*) {
  return Got(L"GetAllocatedString", key);
}
HRESULT STDMETHODCALLTYPE GetBlobSize(SELF, const GUID* key, UINT32*) { return Got(L"GetBlobSize", key); }
HRESULT STDMETHODCALLTYPE GetBlob(SELF, const GUID* key, UINT8*, UINT32, UINT32*) { return Got(L"GetBlob", key); }
HRESULT STDMETHODCALLTYPE GetAllocatedBlob(SELF, const GUID* key, UINT8**, UINT32*) {
  return Got(L"GetAllocatedBlob", key);
}
HRESULT STDMETHODCALLTYPE GetUnknown(SELF, const GUID* key, const GUID*, void**) { return Got(L"GetUnknown", key); }
HRESULT Set(const wchar_t* method, const GUID* key, const std::wstring& value) {
  Log(std::wstring(method) + L" " + GuidText(key) + (value.empty() ? L"" : L" " + value));
  return Answer(method);
}
HRESULT STDMETHODCALLTYPE SetItem(SELF, const GUID* key, const void*) { return Set(L"SetItem", key, {}); }
HRESULT STDMETHODCALLTYPE DeleteItem(SELF, const GUID* key) { return Set(L"DeleteItem", key, {}); }
HRESULT STDMETHODCALLTYPE DeleteAllItems(SELF) { return Set(L"DeleteAllItems", nullptr, {}); }
HRESULT STDMETHODCALLTYPE SetUINT32(SELF, const GUID* key, UINT32 value) {
  return Set(L"SetUINT32", key, std::to_wstring(value));
}
HRESULT STDMETHODCALLTYPE SetUINT64(SELF, const GUID* key, UINT64 value) {
  return Set(L"SetUINT64", key, std::to_wstring(value));
}
HRESULT STDMETHODCALLTYPE SetDouble(SELF, const GUID* key, double value) {
  return Set(L"SetDouble", key, std::to_wstring(value));
}
HRESULT STDMETHODCALLTYPE SetGUID(SELF, const GUID* key, const GUID* value) {
  return Set(L"SetGUID", key, GuidText(value));
}
HRESULT STDMETHODCALLTYPE SetString(SELF, const GUID* key, const wchar_t* value) {
  return Set(L"SetString", key, Text(value));
}
HRESULT STDMETHODCALLTYPE SetBlob(SELF, const GUID* key, const UINT8*, UINT32 size) {
  return Set(L"SetBlob", key, std::to_wstring(size) + L" bytes");
}
HRESULT STDMETHODCALLTYPE SetUnknown(SELF, const GUID* key, IUnknown*) { return Set(L"SetUnknown", key, {}); }
HRESULT STDMETHODCALLTYPE LockStore(SELF) { return Set(L"LockStore", nullptr, {}); }
HRESULT STDMETHODCALLTYPE UnlockStore(SELF) { return Set(L"UnlockStore", nullptr, {}); }
HRESULT STDMETHODCALLTYPE GetCount(SELF, UINT32* count) {
  Log(L"GetCount");
  if (count) *count = 0;
  return S_OK;
}
HRESULT STDMETHODCALLTYPE GetItemByIndex(SELF, UINT32, GUID*, void*) { return Got(L"GetItemByIndex", nullptr); }
HRESULT STDMETHODCALLTYPE CopyAllItems(SELF, void*) { return Set(L"CopyAllItems", nullptr, {}); }

// IMFVirtualCamera's own.
HRESULT Called(const wchar_t* method, const std::wstring& arguments = {}) {
  Log(std::wstring(method) + (arguments.empty() ? L"" : L" " + arguments));
  return Answer(method);
}
HRESULT STDMETHODCALLTYPE AddDeviceSourceInfo(SELF, const wchar_t* info) { return Called(L"AddDeviceSourceInfo", Text(info)); }
HRESULT STDMETHODCALLTYPE AddProperty(SELF, const void*, ULONG type, const BYTE*, ULONG size) {
  return Called(L"AddProperty", L"type=" + std::to_wstring(type) + L" size=" + std::to_wstring(size));
}
HRESULT STDMETHODCALLTYPE AddRegistryEntry(SELF, const wchar_t* entry, const wchar_t* subkey, DWORD, const BYTE*, ULONG) {
  return Called(L"AddRegistryEntry", Text(entry) + L" " + Text(subkey));
}
HRESULT STDMETHODCALLTYPE Start(SELF, IUnknown* callback) {
  return Called(L"Start", callback ? L"callback=given" : L"callback=null");
}
HRESULT STDMETHODCALLTYPE Stop(SELF) { return Called(L"Stop"); }
HRESULT STDMETHODCALLTYPE Remove(SELF) { return Called(L"Remove"); }
HRESULT STDMETHODCALLTYPE GetMediaSource(SELF, void** source) {
  if (source) *source = nullptr;
  return Called(L"GetMediaSource") == S_OK ? E_NOTIMPL : E_ACCESSDENIED;
}
HRESULT STDMETHODCALLTYPE SendCameraProperty(SELF, const GUID* set, ULONG id, ULONG flags, void*, ULONG, void*, ULONG,
                                             ULONG*) {
  return Called(L"SendCameraProperty",
                GuidText(set) + L" " + std::to_wstring(id) + L" " + std::to_wstring(flags));
}
HRESULT STDMETHODCALLTYPE CreateSyncEvent(SELF, const GUID* set, ULONG, ULONG, HANDLE, void** sync) {
  if (sync) *sync = nullptr;
  Called(L"CreateSyncEvent", GuidText(set));
  return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE CreateSyncSemaphore(SELF, const GUID* set, ULONG, ULONG, HANDLE, LONG, void** sync) {
  if (sync) *sync = nullptr;
  Called(L"CreateSyncSemaphore", GuidText(set));
  return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE Shutdown(SELF) { return Called(L"Shutdown"); }
#undef SELF

#define SLOT(f) reinterpret_cast<Slot>(&f)
const Slot kTable[] = {
    SLOT(QueryInterface), SLOT(AddRef), SLOT(Release),
    // IMFAttributes
    SLOT(GetItem), SLOT(GetItemType), SLOT(CompareItem), SLOT(Compare), SLOT(GetUINT32), SLOT(GetUINT64),
    SLOT(GetDouble), SLOT(GetGUID), SLOT(GetStringLength), SLOT(GetString), SLOT(GetAllocatedString),
    SLOT(GetBlobSize), SLOT(GetBlob), SLOT(GetAllocatedBlob), SLOT(GetUnknown), SLOT(SetItem), SLOT(DeleteItem),
    SLOT(DeleteAllItems), SLOT(SetUINT32), SLOT(SetUINT64), SLOT(SetDouble), SLOT(SetGUID), SLOT(SetString),
    SLOT(SetBlob), SLOT(SetUnknown), SLOT(LockStore), SLOT(UnlockStore), SLOT(GetCount), SLOT(GetItemByIndex),
    SLOT(CopyAllItems),
    // IMFVirtualCamera
    SLOT(AddDeviceSourceInfo), SLOT(AddProperty), SLOT(AddRegistryEntry), SLOT(Start), SLOT(Stop), SLOT(Remove),
    SLOT(GetMediaSource), SLOT(SendCameraProperty), SLOT(CreateSyncEvent), SLOT(CreateSyncSemaphore),
    SLOT(Shutdown)};
#undef SLOT
static_assert(sizeof(kTable) / sizeof(kTable[0]) == 3 + 30 + 11, "IUnknown, IMFAttributes and the camera's own");

}  // namespace

// STDAPI MFCreateVirtualCamera(type, lifetime, access, friendlyName, sourceId, categories,
// categoryCount, virtualCamera), exported undecorated (mfsensorgroup_standin.def).
extern "C" HRESULT STDAPICALLTYPE MFCreateVirtualCamera(int type, int lifetime, int access, const wchar_t* friendlyName,
                                                        const wchar_t* sourceId, const GUID* categories,
                                                        ULONG categoryCount, void** camera) {
  std::wstring line = L"MFCreateVirtualCamera type=" + std::to_wstring(type) + L" lifetime=" +
                      std::to_wstring(lifetime) + L" access=" + std::to_wstring(access) + L" friendlyName=" +
                      Text(friendlyName) + L" sourceId=" + Text(sourceId) + L" categories=";
  for (ULONG i = 0; categories && i < categoryCount; ++i) line += (i ? L"," : L"") + GuidText(&categories[i]);
  if (!categories || categoryCount == 0) line += L"default";
  Log(line);
  if (!camera) return E_POINTER;
  *camera = nullptr;
  if (!friendlyName || !sourceId) return E_INVALIDARG;
  const HRESULT hr = Answer(L"MFCreateVirtualCamera");
  if (FAILED(hr)) return hr;
  *camera = new Camera{kTable, 1};
  return S_OK;
}
