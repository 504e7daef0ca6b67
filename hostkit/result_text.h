#pragma once
// Error codes as the text a user reads.

#include <windows.h>

#include <string>

namespace dorvantel {

// Text of a system error code, without the trailing line break.
std::wstring SystemMessage(DWORD code);
// Text of an HRESULT: the system's message where it has one, and the code in hex.
std::wstring ResultText(HRESULT hr);

}  // namespace dorvantel
