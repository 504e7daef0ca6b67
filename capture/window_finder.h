#pragma once
// Finding a top-level window by its title, as the recorder's --window and the filter's
// WindowTitle setting do.

#include <windows.h>

#include <string>

// The first visible top-level window whose title is `title`, else the first whose title
// contains it (ignoring case); null when none does.
HWND FindWindowByTitle(const std::wstring& title);
