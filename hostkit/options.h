#pragma once
// The tools' command lines: the recorder's (a preset, and where and how long to record) and
// the register tool's register command (a device's name and its preset). The capture options
// are the preset's (preset/preset.h).

#include <windows.h>

#include <string>
#include <vector>

#include "preset/preset.h"

namespace dorvantel {

struct RecorderOptions {
  Preset preset;
  std::wstring output;  // an .avi file, or "-" for raw frames on standard output
  double seconds = 0;   // 0: until Ctrl-C
  std::wstring device;  // a registered capture device by name; empty: the library beside the recorder
  bool demo = false;
  RECT demoBounds{};  // empty: the demo window's own default place
  bool quiet = false;
  bool listMonitors = false;  // --monitors: list them and record nothing
  bool help = false;
  std::wstring recover;  // a recording's .part file to close instead of recording (--recover)

  bool rawOutput() const { return output == L"-"; }
};

// dorvantel-register register: --name NAME and the capture options.
struct PresetOptions {
  std::wstring name;  // empty when not given
  Preset preset;
  bool help = false;
};

template <typename Options>
struct ParsedOptions {
  Options options;
  std::wstring error;  // one line; empty when the command line is good
  bool ok() const { return error.empty(); }
};

// args: the command line without the program's name (and without the register tool's command).
ParsedOptions<RecorderOptions> ParseRecorderOptions(const std::vector<std::wstring>& args);
ParsedOptions<PresetOptions> ParsePresetOptions(const std::vector<std::wstring>& args);

const wchar_t* RecorderUsage();

}  // namespace dorvantel
