#pragma once
// Configuring the desktop source made from the library beside the program (no registry
// involved) or from a registered capture device, through its property bag.

#include <windows.h>
#include <dshow.h>

#include <string>

#include "hostkit/options.h"

namespace dorvantel {

// Writes the options into the filter's property bag: capture area, rectangle or window,
// cursor, layered windows, frame rate and mode, output size and interpolation. The window
// is the one to capture for CaptureTarget::Window. For a registered device (options.device)
// only the settings the command line names, the frame rate mode and the format: the device
// keeps its preset for the others, and the pin offers the format first.
HRESULT ConfigureSource(IBaseFilter* filter, const RecorderOptions& options, HWND window, std::wstring* error);

}  // namespace dorvantel
