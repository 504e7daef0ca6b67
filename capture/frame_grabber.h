#pragma once
// One frame of the screen or of a window, converted into a caller's bitmap buffer.

#include <windows.h>

#include <cstddef>
#include <optional>

#include "format/frame_size.h"

// Copies rectangle of source (or, with a window, prints the window with rectangle taken
// relative to its corner) into a bitmap compatible with source, drawn through memory; draws
// the cursor when drawCursor is set; scales to outputSize with GDI+ when one is given; then
// converts the lines into destination in the layout that info describes (its colour table is
// written back for 8-bit layouts).
// Never writes past destinationBytes of destination nor reads or writes past infoBytes of
// info, and converts no more lines than info's height. An empty rectangle, an unusable info,
// or a scaling step that fails leaves destination unwritten.
void GrabFrame(HDC source, HDC memory, const RECT& rectangle, const std::optional<FrameSize>& outputSize,
               BYTE* destination, size_t destinationBytes, BITMAPINFO* info, size_t infoBytes, bool drawCursor,
               bool includeLayeredWindows, LONG interpolation, HWND window) noexcept;
