// dorvantel-register: registers the desktop source library beside this program as a video
// capture device, removes that registration, or lists the video capture devices.

#include <windows.h>

#include <string>
#include <vector>

#include "recorder/console.h"
#include "recorder/desktop_source.h"
#include "recorder/device_registration.h"
#include "recorder/resources.h"

namespace {

constexpr wchar_t kProgram[] = L"dorvantel-register";

int Usage() {
  WriteError(L"usage: dorvantel-register register|unregister|list\n"
             L"  register     make the library beside this program the video capture device \"Dorvantel\"\n"
             L"  unregister   remove that registration\n"
             L"  list         print the video capture devices that hosts find\n");
  return 2;
}

int Fail(const std::wstring& message) {
  ReportError(kProgram, message);
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    if (argc > 2) ReportError(kProgram, L"too many arguments");
    return Usage();
  }
  const std::wstring command = argv[1];
  if (command != L"register" && command != L"unregister" && command != L"list") {
    ReportError(kProgram, L"unknown command " + command);
    return Usage();
  }
  ComApartment apartment(COINIT_MULTITHREADED);
  if (FAILED(apartment.result())) return Fail(L"cannot start COM: " + ResultText(apartment.result()));

  std::wstring error;
  if (command == L"register") {
    const std::wstring library = ProgramFolder() + DORVANTEL_DLL_NAME;
    SourceLibrary check;
    if (FAILED(check.Load(library, &error))) return Fail(error);
    if (FAILED(RegisterDevice(library, &error))) return Fail(error);
    WriteError(L"registered " + library + L" as the video capture device \"" + kDeviceName + L"\"\n");
    return 0;
  }
  if (command == L"unregister") {
    HRESULT hr = UnregisterDevice(&error);
    if (FAILED(hr)) return Fail(error);
    WriteError(hr == S_OK ? std::wstring(L"unregistered the video capture device \"") + kDeviceName + L"\"\n"
                          : std::wstring(L"\"") + kDeviceName + L"\" was not registered\n");
    return 0;
  }
  std::vector<std::wstring> names;
  HRESULT hr = ListVideoInputDevices(&names);
  if (FAILED(hr)) return Fail(L"cannot enumerate the video capture devices: " + ResultText(hr));
  std::wstring text;
  for (const std::wstring& name : names) text += name + L"\n";
  // The list goes to standard output, for scripts.
  std::string utf8(static_cast<size_t>(::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr)), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr);
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size() - 1), &written, nullptr);
  return 0;
}
