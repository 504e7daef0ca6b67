#pragma once
// The top-level windows a person may choose to capture, and the window a preset captures: both
// by the filter's own rule for titles (base/window_title.h), so that what a program shows is
// what a device of that preset records.

#include <windows.h>

#include <string>
#include <vector>

#include "preset/preset.h"

namespace dorvantel {

struct ListedWindow {
  HWND window;
  std::wstring title;
};

// The visible top-level windows with a title, of other processes than this one, in the
// system's order (topmost first). A list is narrowed by what a person types with TitleContains.
std::vector<ListedWindow> ListOtherWindows();

// The window a window preset captures now, found by its title as the filter finds it; null for
// the other presets and when no window has the title.
HWND FindCapturedWindow(const Preset& preset);

}  // namespace dorvantel
