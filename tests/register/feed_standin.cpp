// A stand-in for the feed program (camera.sh copies it beside the register tool as
// dorvantel-feed.exe): appends "feed" and its arguments to the file DORVANTEL_CAMERA_LOG names,
// then waits, as the feed does, with a hidden window of the feed's class, titled "Dorvantel feed:
// PRESET", that ends it on WM_CLOSE ("feed closed PRESET" in the log); after 20 seconds it ends
// by itself.

#include <windows.h>

#include <string>

namespace {

std::wstring logPath;

void Log(std::wstring line) {
  line += L"\n";
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &bytes[0], size, nullptr, nullptr);
  HANDLE file = ::CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(file);
}

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_CLOSE) {
    wchar_t title[128] = {};
    ::GetWindowTextW(window, title, 128);
    Log(L"feed closed " + std::wstring(title).substr(16));
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"DORVANTEL_CAMERA_LOG", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  logPath = path;
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = Procedure;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"DorvantelFeed";
  ::RegisterClassW(&windowClass);
  std::wstring preset = L"Dorvantel";
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::wstring(argv[i]) == L"--name") preset = argv[i + 1];
  }
  const std::wstring title = L"Dorvantel feed: " + preset;
  HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, title.c_str(), WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
  if (!window) return 1;
  // Said once the window is there: a caller that has read the line may close it.
  std::wstring line = L"feed";
  for (int i = 1; i < argc; ++i) line += std::wstring(L" [") + argv[i] + L"]";
  Log(line);
  ::SetTimer(window, 1, 20000, nullptr);
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER) break;
    ::DispatchMessageW(&message);
  }
  ::DestroyWindow(window);
  return 0;
}
