#include "hostkit/options.h"

#include <cmath>
#include <cstdlib>

namespace dorvantel {

namespace {

bool EndsWithNoCase(const std::wstring& text, const wchar_t* suffix) {
  size_t length = wcslen(suffix);
  return text.size() >= length && _wcsicmp(text.c_str() + text.size() - length, suffix) == 0;
}

// Reads the capture options into preset, and the recorder's own options into recorder, or
// (recorder null) the register tool's --name into name. The first error, or an empty text.
std::wstring Parse(const std::vector<std::wstring>& args, Preset* preset, bool* help, RecorderOptions* recorder,
                   std::wstring* name) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::wstring option = args[i];
    if (option.size() < 2 || option[0] != L'-') {
      if (!recorder) return L"unexpected argument \"" + option + L"\" (see --help)";
      if (!recorder->output.empty()) {
        return L"more than one output named: \"" + recorder->output + L"\" and \"" + option + L"\"";
      }
      recorder->output = option;
      continue;
    }
    if (option == L"-h" || option == L"--help") {
      *help = true;
      continue;
    }
    if (FindCaptureOption(option) == CaptureOption::Flag) {
      ReadCaptureOption(option, {}, preset);
      continue;
    }
    if (recorder && option == L"--monitors") {
      recorder->listMonitors = true;
      continue;
    }
    if (recorder && option == L"--quiet") {
      recorder->quiet = true;
      continue;
    }
    if (recorder && option == L"--demo") {
      recorder->demo = true;
      continue;
    }
    if (recorder && option.compare(0, 7, L"--demo=") == 0) {
      if (!ParseRectangle(option.substr(7), &recorder->demoBounds)) {
        return L"--demo= needs X,Y,WIDTH,HEIGHT with a positive width and height, not \"" + option.substr(7) + L"\"";
      }
      recorder->demo = true;
      continue;
    }

    std::wstring value;
    const size_t equals = option.find(L'=');
    if (equals != std::wstring::npos) {
      value = option.substr(equals + 1);
      option.resize(equals);
    }
    const bool takesValue = FindCaptureOption(option) == CaptureOption::Valued ||
                            (recorder ? option == L"--seconds" || option == L"--device" || option == L"--recover" : option == L"--name");
    if (!takesValue) return L"unknown option " + option + L" (see --help)";
    if (equals == std::wstring::npos) {
      if (i + 1 >= args.size()) return option + L" needs a value (see --help)";
      value = args[++i];
    }

    if (option == L"--seconds") {
      wchar_t* end = nullptr;
      const double seconds = std::wcstod(value.c_str(), &end);
      if (value.empty() || *end != L'\0' || !std::isfinite(seconds) || seconds <= 0 || seconds > 1e7) {
        return L"--seconds needs a positive number of seconds, not \"" + value + L"\"";
      }
      recorder->seconds = seconds;
    } else if (option == L"--device") {
      if (value.empty()) return L"--device needs a device name";
      recorder->device = value;
    } else if (option == L"--recover") {
      if (value.empty()) return L"--recover needs a file, NAME.avi.part";
      recorder->recover = value;
    } else if (option == L"--name") {
      if (value.empty()) return L"--name needs a device name";
      *name = value;
    } else {
      const PresetProblem problem = ReadCaptureOption(option, value, preset);
      if (!problem.ok()) return problem.message;
    }
  }
  return FinishCaptureOptions(preset).message;
}

}  // namespace

ParsedOptions<RecorderOptions> ParseRecorderOptions(const std::vector<std::wstring>& args) {
  ParsedOptions<RecorderOptions> parsed;
  RecorderOptions& options = parsed.options;
  parsed.error = Parse(args, &options.preset, &options.help, &options, nullptr);
  if (!parsed.ok() || options.help) return parsed;
  if (options.listMonitors) {
    if (!options.output.empty()) parsed.error = L"--monitors lists the monitors and records nothing: name no output";
    return parsed;
  }
  if (!options.recover.empty()) {
    if (!options.output.empty()) parsed.error = L"--recover makes its own output: name no other (see --help)";
    return parsed;
  }
  if (options.output.empty()) {
    parsed.error = L"no output named: give an .avi file, or - for raw frames (see --help)";
  } else if (!options.rawOutput() && !EndsWithNoCase(options.output, L".avi")) {
    parsed.error = L"the output \"" + options.output +
                   L"\" is not an .avi file; the recorder writes AVI, or raw frames to - for an encoder";
  }
  return parsed;
}

ParsedOptions<PresetOptions> ParsePresetOptions(const std::vector<std::wstring>& args) {
  ParsedOptions<PresetOptions> parsed;
  PresetOptions& options = parsed.options;
  parsed.error = Parse(args, &options.preset, &options.help, nullptr, &options.name);
  return parsed;
}

const wchar_t* RecorderUsage() {
  return L"usage: dorvantel-record [options] OUTPUT\n"
         L"       dorvantel-record --recover NAME.avi.part\n"
         L"       dorvantel-record --monitors\n"
         L"Records the desktop. OUTPUT is an .avi file (uncompressed video), or - for raw frames\n"
         L"on standard output after a line that announces their geometry and pixel format.\n"
         L"A recording that stops early (a full disk, the window closed) keeps what it recorded and\n"
         L"exits with 3; one that was killed leaves NAME.avi.part, which --recover (or the next\n"
         L"recording into NAME.avi) closes into a playable file. Exit statuses: 0 recorded, 1 failed\n"
         L"(nothing recorded), 2 bad options, 3 stopped early with the file kept.\n"
         L"\n"
         L"  --seconds S          record S seconds (default: until Ctrl-C)\n"
         L"  --rect X,Y,W,H       a rectangle of the screen (of the window, with --window)\n"
         L"  --window TITLE       a window, found by its title (exact, else a part of it)\n"
         L"  --monitor N          monitor N: 1 the primary, then the others left to right, top to bottom\n"
         L"  --desktop            the whole desktop: every monitor\n"
         L"  --monitors           list the monitors by these numbers, and record nothing\n"
         L"  --rate F             frames per second, 1 to 1000 (default 10)\n"
         L"  --rate-mode M        time stamps: 0 by frame count (default), 1 and 2 by grab time\n"
         L"  --size WxH           scale every frame to this size\n"
         L"  --interpolation I    how: fast (the filter's own scaler, the default), or\n"
         L"                       GDI+'s default, low, high, bilinear, bicubic, nearest, hq-bilinear,\n"
         L"                       hq-bicubic\n"
         L"  --format F           rgb32 (default), rgb24, rgb565, rgb555, rgb8, i420, nv12 or yuy2\n"
         L"  --no-cursor          leave the mouse cursor out (it is drawn by default)\n"
         L"  --layered            include layered (transparent) windows\n"
         L"  --no-pacing          make frames as fast as they are taken, not at the rate\n"
         L"  --device NAME        use the registered capture device NAME instead of the library\n"
         L"                       next to this program\n"
         L"  --demo[=X,Y,W,H]     show the demo window (colour bars, a moving square) while recording\n"
         L"  --quiet              no progress line\n"
         L"  --recover FILE       close FILE, a NAME.avi.part that a recording left, into NAME.avi (or\n"
         L"                       NAME-recovered.avi when NAME.avi is taken)\n";
}

}  // namespace dorvantel
