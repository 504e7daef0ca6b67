#include "hostkit/console.h"

#include "base/handles.h"

namespace dorvantel {

namespace {

HANDLE interruptEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
    ::SetEvent(interruptEvent);
    return TRUE;
  }
  return FALSE;
}

std::string Utf8(const std::wstring& text) {
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size, nullptr, nullptr);
  return utf8;
}

}  // namespace

void WriteError(const std::wstring& text) {
  HANDLE stream = ::GetStdHandle(STD_ERROR_HANDLE);
  if (!stream || stream == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  DWORD mode = 0;
  if (::GetConsoleMode(stream, &mode)) {
    ::WriteConsoleW(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const std::string utf8 = Utf8(text);
  ::WriteFile(stream, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

void ReportError(const wchar_t* program, const std::wstring& message) {
  WriteError(std::wstring(program) + L": error: " + message + L"\n");
}

void WriteOutput(const std::wstring& text) {
  const std::string utf8 = Utf8(text);
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

HRESULT WriteTextFile(const std::wstring& path, const std::wstring& text) {
  FileHandle file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return HRESULT_FROM_WIN32(::GetLastError());
  const std::string utf8 = Utf8(text);
  DWORD written = 0;
  if (!::WriteFile(file.get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr) ||
      written != utf8.size()) {
    return HRESULT_FROM_WIN32(::GetLastError());
  }
  return S_OK;
}

HANDLE InterruptEvent() {
  if (!interruptEvent) {
    // Lives as long as the process.
    interruptEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  }
  return interruptEvent;
}

void ProgressLine::Show(const std::wstring& text) {
  if (!enabled_) return;
  std::wstring line = L"\r" + text;
  if (text.size() < shown_) line.append(shown_ - text.size(), L' ');
  shown_ = text.size();
  WriteError(line);
}

void ProgressLine::Finish() {
  if (!enabled_ || shown_ == 0) return;
  WriteError(L"\n");
  shown_ = 0;
}

}  // namespace dorvantel
