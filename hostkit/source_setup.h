#pragma once
// A preset written into the desktop source: by a program that made the filter from the library
// beside it or bound a registered capture device (ConfigureSource), or exactly as binding a
// device loads its stored values (LoadPreset).

#include <windows.h>
#include <dshow.h>

#include <string>

#include "preset/preset.h"

namespace dorvantel {

// How ConfigureSource treats what the preset leaves out.
enum class Unnamed {
  Default,  // the recorder's defaults: the whole display, the cursor drawn, 10 frames a second
  Kept,     // a registered device's own settings stay
};

// Writes the preset into the filter's property bag: capture area, rectangle or window, cursor,
// layered windows, frame rate and mode, output size and interpolation, pacing. The window is
// the one to capture for CaptureTarget::Window (found by the caller). The frame rate mode is
// always written (it decides how the caller's graph is clocked). With Unnamed::Kept the format
// is written too, so that the pin offers it first; otherwise the caller connects in it.
HRESULT ConfigureSource(IBaseFilter* filter, const Preset& preset, Unnamed unnamed, HWND window, std::wstring* error);

// IPersistPropertyBag::Load of the preset's StoredValues, as binding a device of that preset
// does: the filter finds a window by its title itself, and refuses what a device's bind would.
HRESULT LoadPreset(IBaseFilter* filter, const Preset& preset);

}  // namespace dorvantel
