#pragma once
// The window a preset captures: found by the filter's own rule for titles
// (base/window_title.h), so that what a program shows is what a device of that preset records.

#include <windows.h>

#include "preset/preset.h"

namespace dorvantel {

// The window a window preset captures now, found by its title as the filter finds it; null for
// the other presets and when no window has the title.
HWND FindCapturedWindow(const Preset& preset);

}  // namespace dorvantel
