#pragma once
// Finding a top-level window by its title: one rule for the filter's WindowTitle setting and
// for every program that shows or records a window by its title, so that what a program
// shows is what a preset of that title captures.

#include <windows.h>

#include <string>
#include <vector>

// The first visible top-level window whose title is `title` exactly (case counts), else the
// first whose title contains it ignoring case; null for an empty title or when none does.
HWND FindWindowByTitle(const std::wstring& title);

// Whether title holds part, ignoring case: the second half of that rule, and how a list of
// windows is narrowed by what a person types.
bool TitleContains(const std::wstring& title, const std::wstring& part);

struct ListedWindow {
  HWND window;
  std::wstring title;
};

// The visible top-level windows with a title, of other processes than this one, in the
// system's order (topmost first): what a person may choose to capture. A list is narrowed by
// what a person types with TitleContains.
std::vector<ListedWindow> ListOtherWindows();
