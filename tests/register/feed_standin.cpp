// A stand-in for the feed program (camera.sh copies it beside the register tool as
// dorvantel-feed.exe): appends "feed" and its arguments to the file DORVANTEL_CAMERA_LOG names,
// and ends.

#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"DORVANTEL_CAMERA_LOG", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  std::wstring line = L"feed";
  for (int i = 1; i < argc; ++i) line += std::wstring(L" [") + argv[i] + L"]";
  line += L"\n";
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &bytes[0], size, nullptr, nullptr);
  HANDLE file = ::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(file);
  return 0;
}
