#pragma once

#include <windows.h>

#include <cwchar>

// Copies text into a fixed name field of an info record (FILTER_INFO, PIN_INFO): as much
// as fits before a terminator; null text gives the empty string.
template <size_t N>
void CopyInfoName(LPCWSTR text, WCHAR (&field)[N]) noexcept {
  size_t length = text ? std::wcslen(text) : 0;
  if (length > N - 1) length = N - 1;
  if (length) std::wmemcpy(field, text, length);
  field[length] = L'\0';
}
