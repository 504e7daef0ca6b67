#pragma once
// Finding a top-level window by its title: one rule for the filter's WindowTitle setting and
// for every program that shows or records a window by its title, so that what a program
// shows is what a preset of that title captures.

#include <windows.h>

#include <string>

// The first visible top-level window whose title is `title` exactly (case counts), else the
// first whose title contains it ignoring case; null for an empty title or when none does.
HWND FindWindowByTitle(const std::wstring& title);

// Whether title holds part, ignoring case: the second half of that rule, and how a list of
// windows is narrowed by what a person types.
bool TitleContains(const std::wstring& title, const std::wstring& part);
