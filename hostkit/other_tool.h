#pragma once
// The register tool of the other bitness, installed beside this program's folder
// (..\32-bit or ..\64-bit as installed, ..\win32 or ..\win64 in the build): what reaches the
// other registry view, as a program of that bitness sees it.

#include <windows.h>

#include <string>
#include <vector>

#include "base/command_line.h"  // QuoteArgument

namespace dorvantel {

#ifdef _WIN64
inline constexpr int kOwnBits = 64, kOtherBits = 32;
#else
inline constexpr int kOwnBits = 32, kOtherBits = 64;
#endif

// "64-bit" or "32-bit".
std::wstring BitsText(int bits);

// The other bitness's register tool, or an empty text when none is installed beside. The
// environment variable DORVANTEL_OTHER_REGISTER_TOOL names another program to run in its
// place (the settings program's GUI test's slow or failing stand-in).
std::wstring OtherRegisterTool();

// Runs tool with arguments, without a window, and collects what it writes (standard output
// and error together) until it exits; a tool running past timeoutMs is ended and fails.
HRESULT RunTool(const std::wstring& tool, const std::vector<std::wstring>& arguments, DWORD timeoutMs,
                std::string* output, DWORD* status, std::wstring* error);

}  // namespace dorvantel
