#include "hostkit/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cwctype>

#include "module/dorvantel.h"

namespace dorvantel {

namespace {

constexpr int kMinFrameRate = SourceLimits::kMinFrameRate;
constexpr int kMaxFrameRate = SourceLimits::kMaxFrameRate;
constexpr int kMinOutputSide = SourceLimits::kMinOutputSide;
constexpr int kMaxOutputSide = SourceLimits::kMaxOutputSide;

const wchar_t* const kInterpolationNames[] = {L"default", L"low",     L"high",        L"bilinear",
                                              L"bicubic", L"nearest", L"hq-bilinear", L"hq-bicubic"};

bool ParseInt(const std::wstring& text, long minimum, long maximum, int* value) {
  if (text.empty() || std::iswspace(text[0])) return false;
  wchar_t* end = nullptr;
  errno = 0;
  long parsed = std::wcstol(text.c_str(), &end, 10);
  if (errno != 0 || *end != L'\0' || parsed < minimum || parsed > maximum) return false;
  *value = static_cast<int>(parsed);
  return true;
}

// Splits "a<separator>b<separator>..." into exactly `count` whole numbers.
bool ParseInts(const std::wstring& text, wchar_t separator, size_t count, long minimum, int* values) {
  size_t start = 0;
  for (size_t i = 0; i < count; ++i) {
    size_t end = text.find(separator, start);
    if ((end == std::wstring::npos) != (i + 1 == count)) return false;
    std::wstring part = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    if (!ParseInt(part, minimum, 1000000, &values[i])) return false;
    start = end + 1;
  }
  return true;
}

bool EndsWithNoCase(const std::wstring& text, const wchar_t* suffix) {
  size_t length = wcslen(suffix);
  return text.size() >= length && _wcsicmp(text.c_str() + text.size() - length, suffix) == 0;
}

}  // namespace

ParsedOptions ParseOptions(const std::vector<std::wstring>& args, OptionsFor use) {
  const bool preset = use == OptionsFor::Preset;
  ParsedOptions parsed;
  RecorderOptions& options = parsed.options;
  auto fail = [&parsed](const std::wstring& message) {
    parsed.error = message;
    return parsed;
  };

  for (size_t i = 0; i < args.size(); ++i) {
    std::wstring name = args[i];
    if (name.size() < 2 || name[0] != L'-') {
      if (preset) return fail(L"unexpected argument \"" + name + L"\" (see --help)");
      if (!options.output.empty())
        return fail(L"more than one output named: \"" + options.output + L"\" and \"" + name + L"\"");
      options.output = name;
      continue;
    }
    if (name == L"-h" || name == L"--help") {
      options.help = true;
      continue;
    }
    if (name == L"--cursor" || name == L"--no-cursor") {
      options.cursor = name == L"--cursor";
      options.cursorGiven = true;
      continue;
    }
    if (name == L"--layered") {
      options.layeredWindows = true;
      continue;
    }
    if (name == L"--quiet" && !preset) {
      options.quiet = true;
      continue;
    }
    if (name == L"--demo" && !preset) {
      options.demo = true;
      continue;
    }
    if (name.compare(0, 7, L"--demo=") == 0 && !preset) {
      int v[4];
      if (!ParseInts(name.substr(7), L',', 4, -1000000, v) || v[2] <= 0 || v[3] <= 0) {
        return fail(L"--demo= needs X,Y,WIDTH,HEIGHT with a positive width and height, not \"" + name.substr(7) +
                    L"\"");
      }
      options.demo = true;
      options.demoBounds = RECT{v[0], v[1], v[0] + v[2], v[1] + v[3]};
      continue;
    }

    std::wstring value;
    size_t equals = name.find(L'=');
    if (equals != std::wstring::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    const bool captureOption = name == L"--rate" || name == L"--rate-mode" || name == L"--rect" ||
                               name == L"--window" || name == L"--size" || name == L"--interpolation" ||
                               name == L"--format";
    const bool takesValue =
        captureOption ||
        (preset ? name == L"--name" : name == L"--seconds" || name == L"--device" || name == L"--recover");
    if (!takesValue) return fail(L"unknown option " + name + L" (see --help)");
    if (equals == std::wstring::npos) {
      if (i + 1 >= args.size()) return fail(name + L" needs a value (see --help)");
      value = args[++i];
    }

    if (name == L"--seconds") {
      wchar_t* end = nullptr;
      double seconds = std::wcstod(value.c_str(), &end);
      if (value.empty() || *end != L'\0' || !std::isfinite(seconds) || seconds <= 0 || seconds > 1e7) {
        return fail(L"--seconds needs a positive number of seconds, not \"" + value + L"\"");
      }
      options.seconds = seconds;
    } else if (name == L"--rate") {
      if (!ParseInt(value, kMinFrameRate, kMaxFrameRate, &options.frameRate)) {
        return fail(L"--rate needs a whole number of frames per second from " + std::to_wstring(kMinFrameRate) +
                    L" to " + std::to_wstring(kMaxFrameRate) + L", not \"" + value + L"\"");
      }
      options.rateGiven = true;
    } else if (name == L"--rate-mode") {
      if (!ParseInt(value, 0, 2, &options.frameRateMode)) {
        return fail(L"--rate-mode needs 0, 1 or 2, not \"" + value + L"\"");
      }
      options.rateModeGiven = true;
    } else if (name == L"--rect") {
      int v[4];
      if (!ParseInts(value, L',', 4, -1000000, v) || v[2] <= 0 || v[3] <= 0) {
        return fail(L"--rect needs X,Y,WIDTH,HEIGHT with a positive width and height, not \"" + value + L"\"");
      }
      options.hasRectangle = true;
      options.rectangle = RECT{v[0], v[1], v[0] + v[2], v[1] + v[3]};
    } else if (name == L"--window") {
      if (value.empty()) return fail(L"--window needs a window title");
      options.windowTitle = value;
    } else if (name == L"--size") {
      int v[2];
      if (!ParseInts(value, L'x', 2, kMinOutputSide, v) || v[0] > kMaxOutputSide || v[1] > kMaxOutputSide) {
        const std::wstring least = std::to_wstring(kMinOutputSide), most = std::to_wstring(kMaxOutputSide);
        return fail(L"--size needs WIDTHxHEIGHT from " + least + L"x" + least + L" to " + most + L"x" + most +
                    L", not \"" + value + L"\"");
      }
      options.scaled = true;
      options.outputWidth = v[0];
      options.outputHeight = v[1];
    } else if (name == L"--interpolation") {
      int mode = _wcsicmp(value.c_str(), L"fast") == 0 ? static_cast<int>(kInterpolationFast) : -1;
      for (int m = 0; m < 8; ++m) {
        if (_wcsicmp(value.c_str(), kInterpolationNames[m]) == 0) mode = m;
      }
      if (mode < 0 && !ParseInt(value, 0, 7, &mode)) {
        return fail(
            L"--interpolation needs fast, default, low, high, bilinear, bicubic, nearest, hq-bilinear, hq-bicubic or 0 "
            L"to 7, not \"" +
            value + L"\"");
      }
      options.interpolation = mode;
      options.interpolationGiven = true;
    } else if (name == L"--format") {
      const PixelFormatInfo* info = FindPixelFormat(value);
      if (!info) return fail(L"--format needs rgb32, rgb24, rgb565, rgb555 or rgb8, not \"" + value + L"\"");
      options.pixels = info->format;
      options.formatGiven = true;
    } else if (name == L"--device") {
      if (value.empty()) return fail(L"--device needs a device name");
      options.device = value;
    } else if (name == L"--recover") {
      if (value.empty()) return fail(L"--recover needs a file, NAME.avi.part");
      options.recover = value;
    } else if (name == L"--name") {
      if (value.empty()) return fail(L"--name needs a device name");
      options.name = value;
    }
  }

  // A size without an interpolation scales with the filter's own scaler.
  if (options.scaled && !options.interpolationGiven) {
    options.interpolation = kInterpolationFast;
    options.interpolationGiven = true;
  }
  options.target = !options.windowTitle.empty() ? CaptureTarget::Window
                   : options.hasRectangle       ? CaptureTarget::Rectangle
                                                : CaptureTarget::Display;
  if (options.help || preset) return parsed;
  if (!options.recover.empty()) {
    if (!options.output.empty()) return fail(L"--recover makes its own output: name no other (see --help)");
    return parsed;
  }
  if (options.output.empty()) return fail(L"no output named: give an .avi file, or - for raw frames (see --help)");
  if (!options.rawOutput() && !EndsWithNoCase(options.output, L".avi")) {
    return fail(L"the output \"" + options.output +
                L"\" is not an .avi file; the recorder writes AVI, or raw frames to - for an encoder");
  }
  return parsed;
}

const wchar_t* RecorderUsage() {
  return L"usage: dorvantel-record [options] OUTPUT\n"
         L"       dorvantel-record --recover NAME.avi.part\n"
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
         L"  --rate F             frames per second, 1 to 1000 (default 10)\n"
         L"  --rate-mode M        time stamps: 0 by frame count (default), 1 and 2 by grab time\n"
         L"  --size WxH           scale every frame to this size\n"
         L"  --interpolation I    how: fast (the filter's own scaler, the default with --size), or\n"
         L"                       GDI+'s default, low, high, bilinear, bicubic, nearest, hq-bilinear,\n"
         L"                       hq-bicubic\n"
         L"  --format F           rgb32 (default), rgb24, rgb565, rgb555 or rgb8\n"
         L"  --no-cursor          leave the mouse cursor out (it is drawn by default)\n"
         L"  --layered            include layered (transparent) windows\n"
         L"  --device NAME        use the registered capture device NAME instead of the library\n"
         L"                       next to this program\n"
         L"  --demo[=X,Y,W,H]     show the demo window (colour bars, a moving square) while recording\n"
         L"  --quiet              no progress line\n"
         L"  --recover FILE       close FILE, a NAME.avi.part that a recording left, into NAME.avi (or\n"
         L"                       NAME-recovered.avi when NAME.avi is taken)\n";
}

}  // namespace dorvantel
