#pragma once
// Making and configuring the desktop source filter: from the library beside the program
// (no registry involved) or from a registered capture device, then set up through its
// property bag.

#include <windows.h>
#include <dshow.h>

#include <string>

#include "capture/window_finder.h"
#include "framework/com_ptr.h"
#include "recorder/options.h"
#include "recorder/resources.h"

// The desktop source's class, {924BCD16-2927-4D6B-A385-476A9C4D41B7}.
extern const CLSID kDesktopSourceClass;
// The name under which the source is registered as a capture device.
extern const wchar_t kDeviceName[];

// The folder of this program's executable, ending in a backslash.
std::wstring ProgramFolder();

// The library loaded from a path. Keep it alive until every filter it made is released.
class SourceLibrary {
 public:
  // error: one line for the user when the library is missing or cannot be loaded.
  HRESULT Load(const std::wstring& path, std::wstring* error);
  HRESULT CreateFilter(ComPtr<IBaseFilter>* filter, std::wstring* error);

 private:
  LibraryHandle module_;
  std::wstring path_;
};

// Writes the options into the filter's property bag: capture area, rectangle or window,
// cursor, layered windows, frame rate and mode, output size and interpolation. The window
// is the one to capture for CaptureTarget::Window. For a registered device (options.device)
// only the settings the command line names, the frame rate mode and the format: the device
// keeps its preset for the others, and the pin offers the format first.
HRESULT ConfigureSource(IBaseFilter* filter, const RecorderOptions& options, HWND window,
                        std::wstring* error);
// The frame rate the source is set to.
HRESULT ReadFrameRate(IBaseFilter* filter, int* rate);
