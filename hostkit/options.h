#pragma once
// The recorder's command line: what to capture, how, and where the frames go.

#include <windows.h>

#include <string>
#include <vector>

#include "hostkit/frame_format.h"

namespace dorvantel {

enum class CaptureTarget { Display, Rectangle, Window };

struct RecorderOptions {
  std::wstring output;  // an .avi file, or "-" for raw frames on standard output
  CaptureTarget target = CaptureTarget::Display;
  bool hasRectangle = false;
  RECT rectangle{};  // screen coordinates; with a window, relative to its top-left corner
  std::wstring windowTitle;
  bool cursor = true;
  bool layeredWindows = false;
  int frameRate = 10;
  int frameRateMode = 0;
  bool scaled = false;
  int outputWidth = 0;
  int outputHeight = 0;
  int interpolation = 0;  // a GDI+ InterpolationMode value, or kInterpolationFast
  PixelFormat pixels = PixelFormat::Rgb32;
  double seconds = 0;   // 0: until Ctrl-C
  std::wstring device;  // a registered capture device by name; empty: the library beside the recorder
  bool demo = false;
  RECT demoBounds{};  // empty: the demo window's own default place
  bool quiet = false;
  bool help = false;
  std::wstring name;     // a preset's device name (dorvantel-register register --name)
  std::wstring recover;  // a recording's .part file to close instead of recording (--recover)
  // Which settings the command line names (rectangle, window, size and layered windows
  // show it by themselves): a registered device keeps its own for the others.
  bool cursorGiven = false;
  bool rateGiven = false;
  bool rateModeGiven = false;
  bool interpolationGiven = false;
  bool formatGiven = false;

  bool rawOutput() const { return output == L"-"; }
};

struct ParsedOptions {
  RecorderOptions options;
  std::wstring error;  // one line; empty when the command line is good
  bool ok() const { return error.empty(); }
};

// Recording: the recorder's command line. Preset: the capture options of a device preset
// (dorvantel-register register): --name NAME instead of an output, the length, the device
// and the demo window.
enum class OptionsFor { Recording, Preset };

// args: the command line without the program name (for Preset, without the command).
ParsedOptions ParseOptions(const std::vector<std::wstring>& args, OptionsFor use = OptionsFor::Recording);

const wchar_t* RecorderUsage();

}  // namespace dorvantel
