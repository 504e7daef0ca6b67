#include "hostkit/result_text.h"

#include <cwchar>

namespace dorvantel {

std::wstring SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message(text ? text : L"", length);
  if (text) ::LocalFree(text);
  while (!message.empty() &&
         (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  return message;
}

std::wstring ResultText(HRESULT hr) {
  wchar_t code[16];
  std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(hr));
  std::wstring message = SystemMessage(static_cast<DWORD>(hr));
  return message.empty() ? std::wstring(code) : message + L" (" + code + L")";
}

}  // namespace dorvantel
