#pragma once
// Choosing a window from a list: the visible top-level windows with a title, of other
// programs, with their icons; a find box narrows the list as you type.

#include <windows.h>

#include <string>

namespace dorvantel {

// Runs the list modally on the calling thread, its template found in module (editor.rc); the
// chosen window's title and handle, false when cancelled.
bool ChooseWindowFromList(HMODULE module, HWND owner, std::wstring* title, HWND* window);

}  // namespace dorvantel
