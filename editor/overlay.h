#pragma once
// The full-screen overlay that chooses what to capture by pointing: a still picture of the
// screen, dimmed, over every window. In region mode a crosshair follows the mouse, a drag
// draws the region (shown bright, with its size), the arrow keys move it (Shift: move the
// right or bottom edge; Ctrl: ten pixels at a time), Enter or a double click takes it and
// Esc cancels. In window mode the window under the mouse is shown bright and a click takes it.
//
// The caller hides its own windows first: the picture is taken when the overlay opens.

#include <windows.h>

namespace dorvantel {

enum class OverlayMode { Region, Window };

// Runs the overlay modally on the calling thread, its window class registered in module while
// it runs. Region mode: *region is the starting selection (screen
// coordinates; empty for none) and the one taken. Window mode: *window is the one clicked
// and *region its rectangle. False when cancelled.
bool RunOverlay(HMODULE module, HWND owner, OverlayMode mode, RECT* region, HWND* window);

}  // namespace dorvantel
