#include "camera/mf_library.h"

namespace camera {

namespace {

template <typename Function>
bool Find(HMODULE module, const char* name, Function* function) {
  *function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
  return *function != nullptr;
}

MfLibrary Load(bool* found) {
  MfLibrary mf = {};
  // From the system folder only.
  wchar_t path[MAX_PATH];
  UINT length = ::GetSystemDirectoryW(path, MAX_PATH - 12);
  HMODULE module = nullptr;
  if (length && length < MAX_PATH - 12) {
    wcscpy(path + length, L"\\mfplat.dll");
    module = ::LoadLibraryW(path);
  }
  *found = module && Find(module, "MFStartup", &mf.Startup) && Find(module, "MFShutdown", &mf.Shutdown) &&
           Find(module, "MFCreateAttributes", &mf.CreateAttributes) &&
           Find(module, "MFCreateEventQueue", &mf.CreateEventQueue) &&
           Find(module, "MFCreateMediaType", &mf.CreateMediaType) &&
           Find(module, "MFCreateStreamDescriptor", &mf.CreateStreamDescriptor) &&
           Find(module, "MFCreatePresentationDescriptor", &mf.CreatePresentationDescriptor) &&
           Find(module, "MFCreateSample", &mf.CreateSample) &&
           Find(module, "MFCreateMemoryBuffer", &mf.CreateMemoryBuffer) &&
           Find(module, "MFGetSystemTime", &mf.GetSystemTime);
  return mf;
}

}  // namespace

const MfLibrary* Mf() noexcept {
  static bool found = false;
  static const MfLibrary library = Load(&found);  // thread-safe initialisation
  return found ? &library : nullptr;
}

}  // namespace camera
