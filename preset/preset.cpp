#include "preset/preset.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwctype>

namespace dorvantel {

namespace {

namespace Key = SourceProperty;

// How far from the origin a rectangle's corner and sides may reach.
constexpr long kMaxCoordinate = 1000000;

// A whole decimal number from minimum to maximum, with nothing before or after it.
bool ParseInt(const std::wstring& text, long minimum, long maximum, int* value) {
  if (text.empty() || std::iswspace(text[0])) return false;
  wchar_t* end = nullptr;
  errno = 0;
  const long parsed = std::wcstol(text.c_str(), &end, 10);
  if (errno != 0 || *end != L'\0' || parsed < minimum || parsed > maximum) return false;
  *value = static_cast<int>(parsed);
  return true;
}

// Exactly count whole numbers, each from minimum to maximum, separated by separator.
bool ParseInts(const std::wstring& text, wchar_t separator, size_t count, long minimum, long maximum, int* values) {
  size_t start = 0;
  for (size_t i = 0; i < count; ++i) {
    const size_t end = text.find(separator, start);
    if ((end == std::wstring::npos) != (i + 1 == count)) return false;
    const std::wstring part = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    if (!ParseInt(part, minimum, maximum, &values[i])) return false;
    start = end + 1;
  }
  return true;
}

bool RateInRange(long long rate) { return rate >= SourceLimits::kMinFrameRate && rate <= SourceLimits::kMaxFrameRate; }
bool RateModeKnown(long long mode) { return mode >= kRateByFrameCount && mode <= kRateByGrabTimes; }
bool SideInRange(long long side) {
  return side >= SourceLimits::kMinOutputSide && side <= SourceLimits::kMaxOutputSide;
}
bool MonitorInRange(long long number) {
  return number >= SourceLimits::kMinMonitor && number <= SourceLimits::kMaxMonitor;
}
bool CornerInRange(long long at) { return at >= -kMaxCoordinate && at <= kMaxCoordinate; }
bool ExtentInRange(long long extent) { return extent > 0 && extent <= kMaxCoordinate; }
bool RectangleInRange(const RECT& r) {
  return CornerInRange(r.left) && CornerInRange(r.top) && ExtentInRange(static_cast<long long>(r.right) - r.left) &&
         ExtentInRange(static_cast<long long>(r.bottom) - r.top);
}

const InterpolationChoice* FindInterpolation(int mode) {
  for (const InterpolationChoice& choice : InterpolationChoices()) {
    if (choice.mode == mode) return &choice;
  }
  return nullptr;
}

// "a, b or c"
std::wstring Listed(const std::vector<std::wstring>& items) {
  std::wstring text;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += i + 1 == items.size() ? L" or " : L", ";
    text += items[i];
  }
  return text;
}

const wchar_t* OptionOf(PresetField field) {
  switch (field) {
    case PresetField::Area: return Key::CaptureArea;
    case PresetField::Rectangle: return L"--rect";
    case PresetField::WindowTitle: return L"--window";
    case PresetField::Monitor: return L"--monitor";
    case PresetField::FrameRate: return L"--rate";
    case PresetField::RateMode: return L"--rate-mode";
    case PresetField::OutputSize: return L"--size";
    case PresetField::Interpolation: return L"--interpolation";
    case PresetField::Format: return L"--format";
    case PresetField::Stored: break;
  }
  return L"";
}

// What the field takes, after "needs".
std::wstring Needs(PresetField field) {
  switch (field) {
    case PresetField::Area:
      return L"0 (the primary monitor), 1 (a screen rectangle), 2 or 3 (a window), 4 (a monitor) or 5 (the desktop)";
    case PresetField::Rectangle: return L"X,Y,WIDTH,HEIGHT with a positive width and height";
    case PresetField::WindowTitle: return L"a window title";
    case PresetField::Monitor:
      return L"a monitor's number from " + std::to_wstring(SourceLimits::kMinMonitor) + L" to " +
             std::to_wstring(SourceLimits::kMaxMonitor) + L" (1 is the primary)";
    case PresetField::FrameRate:
      return L"a whole number of frames per second from " + std::to_wstring(SourceLimits::kMinFrameRate) + L" to " +
             std::to_wstring(SourceLimits::kMaxFrameRate);
    case PresetField::RateMode: return L"0, 1 or 2";
    case PresetField::OutputSize: {
      const std::wstring least = std::to_wstring(SourceLimits::kMinOutputSide);
      const std::wstring most = std::to_wstring(SourceLimits::kMaxOutputSide);
      return L"WIDTHxHEIGHT from " + least + L"x" + least + L" to " + most + L"x" + most;
    }
    case PresetField::Interpolation: {
      std::vector<std::wstring> names = {L"fast"};
      for (int mode = 0; mode <= 7; ++mode) names.push_back(FindInterpolation(mode)->name);
      names.push_back(L"0 to 7");
      return Listed(names);
    }
    case PresetField::Format: {
      std::vector<std::wstring> names;
      for (const PixelFormatInfo& info : PixelFormats()) names.push_back(info.name);
      return Listed(names);
    }
    case PresetField::Stored: break;
  }
  return {};
}

// The field's one message, for the text it was given.
PresetProblem Refuse(PresetField field, const std::wstring& given) {
  return {field, std::wstring(OptionOf(field)) + L" needs " + Needs(field) + L", not \"" + given + L"\""};
}

PresetProblem CheckTitle(const std::wstring& title) {
  if (title.empty()) return {PresetField::WindowTitle, L"--window needs a window title"};
  if (title.size() > SourceLimits::kMaxWindowTitleLength) {
    return {PresetField::WindowTitle, L"--window needs a window title of at most " +
                                          std::to_wstring(SourceLimits::kMaxWindowTitleLength) + L" characters"};
  }
  return {};
}

// The field of the typed preset, checked; its text is what the message quotes.
PresetProblem CheckField(const Preset& preset, PresetField field) {
  bool good = true;
  switch (field) {
    case PresetField::Rectangle: good = !preset.rectangle || RectangleInRange(*preset.rectangle); break;
    case PresetField::WindowTitle: return CheckTitle(preset.windowTitle);
    case PresetField::Monitor: good = !preset.monitor || MonitorInRange(*preset.monitor); break;
    case PresetField::FrameRate: good = !preset.frameRate || RateInRange(*preset.frameRate); break;
    case PresetField::RateMode: good = !preset.rateMode || RateModeKnown(*preset.rateMode); break;
    case PresetField::OutputSize:
      good = !preset.outputSize || (SideInRange(preset.outputSize->width) && SideInRange(preset.outputSize->height));
      break;
    case PresetField::Interpolation: good = !preset.interpolation || FindInterpolation(*preset.interpolation); break;
    case PresetField::Format:
      good = !preset.format || static_cast<size_t>(*preset.format) < PixelFormats().size();
      break;
    case PresetField::Area:
    case PresetField::Stored: break;
  }
  return good ? PresetProblem{} : Refuse(field, FieldText(preset, field));
}

// The device key's numbers and texts, each in the form the filter takes it.
PresetProblem WrongType(PresetField field, const PresetValue& value) {
  return {field, L"the stored " + value.key +
                     (value.isText ? L" is a text where the filter takes a number"
                                   : L" is a number where the filter takes a text")};
}

std::wstring Corners(const RECT& r) {
  return std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L"," + std::to_wstring(r.right) + L"," +
         std::to_wstring(r.bottom);
}

}  // namespace

bool Preset::operator==(const Preset& other) const noexcept {
  const auto sameRect = [](const std::optional<RECT>& a, const std::optional<RECT>& b) {
    return a.has_value() == b.has_value() && (!a || ::EqualRect(&*a, &*b));
  };
  const auto sameSize = [](const std::optional<OutputDimensions>& a, const std::optional<OutputDimensions>& b) {
    return a.has_value() == b.has_value() && (!a || (a->width == b->width && a->height == b->height));
  };
  return target == other.target && sameRect(rectangle, other.rectangle) && windowTitle == other.windowTitle &&
         monitor == other.monitor && frameRate == other.frameRate && rateMode == other.rateMode &&
         sameSize(outputSize, other.outputSize) && interpolation == other.interpolation && format == other.format &&
         cursor == other.cursor && layeredWindows == other.layeredWindows && framePacing == other.framePacing;
}

std::wstring FieldMessage(const PresetProblem& problem) {
  std::wstring text = problem.message;
  if (text.compare(0, 2, L"--") == 0) {
    const size_t space = text.find(L' ');
    if (space != std::wstring::npos) text.erase(0, space + 1);
  }
  if (!text.empty()) text[0] = static_cast<wchar_t>(std::towupper(text[0]));
  return text;
}

const std::vector<InterpolationChoice>& InterpolationChoices() {
  // The two plain choices first: the filter's own scaler and GDI+'s best.
  static const std::vector<InterpolationChoice> choices = {
      {kInterpolationFast, L"fast", L"fast"},
      {7, L"hq-bicubic", L"quality"},
      {0, L"default", L"GDI+ default"},
      {1, L"low", L"GDI+ low"},
      {2, L"high", L"GDI+ high"},
      {3, L"bilinear", L"GDI+ bilinear"},
      {4, L"bicubic", L"GDI+ bicubic"},
      {5, L"nearest", L"GDI+ nearest"},
      {6, L"hq-bilinear", L"GDI+ hq-bilinear"},
  };
  return choices;
}

PresetProblem SetField(Preset* preset, PresetField field, const std::wstring& text) {
  int v[4] = {};
  switch (field) {
    case PresetField::Rectangle: {
      RECT rectangle;
      if (!ParseRectangle(text, &rectangle)) break;
      preset->rectangle = rectangle;
      return {};
    }
    case PresetField::WindowTitle: {
      PresetProblem problem = CheckTitle(text);
      if (problem.ok()) preset->windowTitle = text;
      return problem;
    }
    case PresetField::Monitor:
      if (!ParseInt(text, SourceLimits::kMinMonitor, SourceLimits::kMaxMonitor, &v[0])) break;
      preset->monitor = v[0];
      return {};
    case PresetField::FrameRate:
      if (!ParseInt(text, SourceLimits::kMinFrameRate, SourceLimits::kMaxFrameRate, &v[0])) break;
      preset->frameRate = v[0];
      return {};
    case PresetField::RateMode:
      if (!ParseInt(text, kRateByFrameCount, kRateByGrabTimes, &v[0])) break;
      preset->rateMode = v[0];
      return {};
    case PresetField::OutputSize:
      if (!ParseInts(text, L'x', 2, SourceLimits::kMinOutputSide, SourceLimits::kMaxOutputSide, v)) break;
      preset->outputSize = OutputDimensions{v[0], v[1]};
      return {};
    case PresetField::Interpolation:
      for (const InterpolationChoice& choice : InterpolationChoices()) {
        if (_wcsicmp(text.c_str(), choice.name) == 0) {
          preset->interpolation = choice.mode;
          return {};
        }
      }
      if (!ParseInt(text, 0, 7, &v[0])) break;
      preset->interpolation = v[0];
      return {};
    case PresetField::Format:
      if (const PixelFormatInfo* info = FindPixelFormat(text)) {
        preset->format = info->format;
        return {};
      }
      break;
    case PresetField::Area:
    case PresetField::Stored: break;
  }
  return Refuse(field, text);
}

std::wstring FieldText(const Preset& preset, PresetField field) {
  switch (field) {
    case PresetField::Rectangle: {
      if (!preset.rectangle) return {};
      const RECT& r = *preset.rectangle;
      return std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L"," +
             std::to_wstring(static_cast<long long>(r.right) - r.left) + L"," +
             std::to_wstring(static_cast<long long>(r.bottom) - r.top);
    }
    case PresetField::WindowTitle: return preset.windowTitle;
    case PresetField::Monitor: return preset.monitor ? std::to_wstring(*preset.monitor) : std::wstring();
    case PresetField::FrameRate: return preset.frameRate ? std::to_wstring(*preset.frameRate) : std::wstring();
    case PresetField::RateMode: return preset.rateMode ? std::to_wstring(*preset.rateMode) : std::wstring();
    case PresetField::OutputSize:
      if (!preset.outputSize) return {};
      return std::to_wstring(preset.outputSize->width) + L"x" + std::to_wstring(preset.outputSize->height);
    case PresetField::Interpolation: {
      if (!preset.interpolation) return {};
      const InterpolationChoice* choice = FindInterpolation(*preset.interpolation);
      return choice ? choice->name : std::to_wstring(*preset.interpolation);
    }
    case PresetField::Format:
      if (!preset.format || static_cast<size_t>(*preset.format) >= PixelFormats().size()) return {};
      return DescribePixelFormat(*preset.format).name;
    case PresetField::Area:
    case PresetField::Stored: break;
  }
  return {};
}

PresetProblem CheckPreset(const Preset& preset) {
  if (preset.target == CaptureTarget::Rectangle && !preset.rectangle) return Refuse(PresetField::Rectangle, L"");
  std::vector<PresetField> fields = {PresetField::FrameRate, PresetField::RateMode, PresetField::OutputSize,
                                     PresetField::Interpolation, PresetField::Format};
  const bool region = preset.target == CaptureTarget::Rectangle || preset.target == CaptureTarget::Window;
  if (region) fields.insert(fields.begin(), PresetField::Rectangle);
  if (preset.target == CaptureTarget::Window) fields.insert(fields.begin(), PresetField::WindowTitle);
  if (preset.target == CaptureTarget::Monitor) fields.insert(fields.begin(), PresetField::Monitor);
  for (PresetField field : fields) {
    PresetProblem problem = CheckField(preset, field);
    if (!problem.ok()) return problem;
  }
  return {};
}

bool ParseRectangle(const std::wstring& text, RECT* rectangle) {
  int v[4];
  if (!ParseInts(text, L',', 4, -kMaxCoordinate, kMaxCoordinate, v) || v[2] <= 0 || v[3] <= 0) return false;
  *rectangle = RECT{v[0], v[1], v[0] + v[2], v[1] + v[3]};
  return true;
}

CaptureOption FindCaptureOption(const std::wstring& name) {
  for (const wchar_t* flag : {L"--cursor", L"--no-cursor", L"--layered", L"--pacing", L"--no-pacing", L"--desktop"}) {
    if (name == flag) return CaptureOption::Flag;
  }
  for (const wchar_t* valued :
       {L"--rect", L"--window", L"--monitor", L"--rate", L"--rate-mode", L"--size", L"--interpolation", L"--format"}) {
    if (name == valued) return CaptureOption::Valued;
  }
  return CaptureOption::None;
}

PresetProblem ReadCaptureOption(const std::wstring& name, const std::wstring& value, Preset* preset) {
  if (name == L"--cursor" || name == L"--no-cursor") {
    preset->cursor = name == L"--cursor";
  } else if (name == L"--layered") {
    preset->layeredWindows = true;
  } else if (name == L"--pacing" || name == L"--no-pacing") {
    preset->framePacing = name == L"--pacing";
  } else if (name == L"--desktop") {
    preset->target = CaptureTarget::Desktop;  // FinishCaptureOptions weighs it against the others
  } else {
    for (PresetField field :
         {PresetField::Rectangle, PresetField::WindowTitle, PresetField::Monitor, PresetField::FrameRate,
          PresetField::RateMode, PresetField::OutputSize, PresetField::Interpolation, PresetField::Format}) {
      if (name == OptionOf(field)) return SetField(preset, field, value);
    }
    return {PresetField::Stored, L"unknown option " + name};
  }
  return {};
}

PresetProblem FinishCaptureOptions(Preset* preset) {
  if (preset->outputSize && !preset->interpolation) preset->interpolation = kInterpolationFast;
  const bool desktop = preset->target == CaptureTarget::Desktop;
  const bool region = preset->rectangle || !preset->windowTitle.empty();
  if (preset->monitor.has_value() + desktop + region > 1) {
    return {PresetField::Area, L"choose one of --monitor, --desktop and --rect or --window"};
  }
  preset->target = !preset->windowTitle.empty() ? CaptureTarget::Window
                   : preset->rectangle          ? CaptureTarget::Rectangle
                   : preset->monitor            ? CaptureTarget::Monitor
                   : desktop                    ? CaptureTarget::Desktop
                                                : CaptureTarget::Display;
  return {};
}

std::vector<std::wstring> PresetArguments(const Preset& preset) {
  std::vector<std::wstring> args;
  auto option = [&](PresetField field) {
    const std::wstring text = FieldText(preset, field);
    if (!text.empty()) args.insert(args.end(), {OptionOf(field), text});
  };
  if (preset.target == CaptureTarget::Window) args.insert(args.end(), {L"--window", preset.windowTitle});
  if (preset.target == CaptureTarget::Window || preset.target == CaptureTarget::Rectangle) {
    option(PresetField::Rectangle);
  }
  if (preset.target == CaptureTarget::Monitor) {
    args.insert(args.end(), {L"--monitor", std::to_wstring(preset.monitor.value_or(SourceLimits::kMinMonitor))});
  }
  if (preset.target == CaptureTarget::Desktop) args.push_back(L"--desktop");
  for (PresetField field : {PresetField::FrameRate, PresetField::RateMode, PresetField::OutputSize,
                            PresetField::Interpolation, PresetField::Format}) {
    option(field);
  }
  if (preset.cursor) args.push_back(*preset.cursor ? L"--cursor" : L"--no-cursor");
  if (preset.layeredWindows.value_or(false)) args.push_back(L"--layered");
  if (preset.framePacing) args.push_back(*preset.framePacing ? L"--pacing" : L"--no-pacing");
  return args;
}

std::vector<PresetValue> StoredValues(const Preset& preset) {
  std::vector<PresetValue> values;
  auto number = [&values](const wchar_t* key, LONG value) { values.push_back(PresetValue{key, false, value, {}}); };
  auto text = [&values](const wchar_t* key, const std::wstring& value) {
    values.push_back(PresetValue{key, true, 0, value});
  };
  auto flag = [&number](const wchar_t* key, const std::optional<bool>& value) {
    if (value) number(key, *value ? 1 : 0);
  };
  if (preset.target == CaptureTarget::Window) {
    number(Key::CaptureArea, kAreaWindowRectangle);
    text(Key::WindowTitle, preset.windowTitle);
    if (preset.rectangle) text(Key::CaptureValue, Corners(*preset.rectangle));
  } else if (preset.target == CaptureTarget::Rectangle) {
    number(Key::CaptureArea, kAreaScreenRectangle);
    if (preset.rectangle) text(Key::CaptureValue, Corners(*preset.rectangle));
  } else if (preset.target == CaptureTarget::Monitor) {
    number(Key::CaptureArea, kAreaMonitor);
    if (preset.monitor) number(Key::CaptureValue, *preset.monitor);
  } else if (preset.target == CaptureTarget::Desktop) {
    number(Key::CaptureArea, kAreaDesktop);
  }
  if (preset.frameRate) number(Key::FrameRate, *preset.frameRate);
  if (preset.rateMode) number(Key::FrameRateMode, *preset.rateMode);
  if (preset.outputSize) text(Key::OutputDimensions, FieldText(preset, PresetField::OutputSize));
  // Every device scales with the filter's own scaler unless the preset says otherwise: a host
  // that binds it by name may ask for another size (ffmpeg's -video_size, OBS's resolution),
  // and the filter's own default, GDI+, gives a fraction of the frames.
  number(Key::InterpolationMode, preset.interpolation.value_or(kInterpolationFast));
  if (preset.format) text(Key::OutputFormat, FieldText(preset, PresetField::Format));
  flag(Key::IncludeCursor, preset.cursor);
  flag(Key::CaptureTransparentWindows, preset.layeredWindows);
  flag(Key::FramePacing, preset.framePacing);
  return values;
}

PresetProblem ReadStoredValues(const std::vector<PresetValue>& values, Preset* preset) {
  *preset = Preset{};
  PresetProblem first;
  auto note = [&first](const PresetProblem& problem) {
    if (first.ok()) first = problem;
  };
  auto find = [&values](const wchar_t* key) -> const PresetValue* {
    for (const PresetValue& value : values) {
      if (_wcsicmp(value.key.c_str(), key) == 0) return &value;
    }
    return nullptr;
  };
  // The value of key when it is stored in its form (a number, or a text); a problem when it is not.
  auto stored = [&](const wchar_t* key, bool isText, PresetField field) -> const PresetValue* {
    const PresetValue* value = find(key);
    if (value && value->isText != isText) {
      note(WrongType(field, *value));
      return nullptr;
    }
    return value;
  };
  auto check = [&](PresetField field) { note(CheckField(*preset, field)); };

  if (const PresetValue* area = stored(Key::CaptureArea, false, PresetField::Area)) {
    switch (area->number) {
      case kAreaDisplay: break;
      case kAreaScreenRectangle: preset->target = CaptureTarget::Rectangle; break;
      case kAreaWindow:
      case kAreaWindowRectangle: preset->target = CaptureTarget::Window; break;
      case kAreaMonitor: preset->target = CaptureTarget::Monitor; break;
      case kAreaDesktop: preset->target = CaptureTarget::Desktop; break;
      default: note(Refuse(PresetField::Area, std::to_wstring(area->number)));
    }
  }
  if (const PresetValue* title = stored(Key::WindowTitle, true, PresetField::WindowTitle)) {
    preset->windowTitle = title->text;
  }
  if (preset->target == CaptureTarget::Window) check(PresetField::WindowTitle);
  if (preset->target == CaptureTarget::Monitor) {
    // A number; the filter's monitor 1 when none is stored.
    const PresetValue* number = stored(Key::CaptureValue, false, PresetField::Monitor);
    preset->monitor = number ? number->number : SourceLimits::kMinMonitor;
    check(PresetField::Monitor);
  }
  if (preset->target == CaptureTarget::Rectangle || preset->target == CaptureTarget::Window) {
    // Stored as LEFT,TOP,RIGHT,BOTTOM.
    if (const PresetValue* corners = stored(Key::CaptureValue, true, PresetField::Rectangle)) {
      int c[4];
      if (ParseInts(corners->text, L',', 4, LONG_MIN, LONG_MAX, c)) {
        preset->rectangle = RECT{c[0], c[1], c[2], c[3]};
        check(PresetField::Rectangle);
      } else {
        note(Refuse(PresetField::Rectangle, corners->text));
      }
    } else if (preset->target == CaptureTarget::Rectangle) {
      note(Refuse(PresetField::Rectangle, L""));
    }
  }
  if (const PresetValue* rate = stored(Key::FrameRate, false, PresetField::FrameRate)) {
    preset->frameRate = rate->number;
    check(PresetField::FrameRate);
  }
  if (const PresetValue* mode = stored(Key::FrameRateMode, false, PresetField::RateMode)) {
    preset->rateMode = mode->number;
    check(PresetField::RateMode);
  }
  if (const PresetValue* size = stored(Key::OutputDimensions, true, PresetField::OutputSize)) {
    int v[2];
    if (ParseInts(size->text, L'x', 2, LONG_MIN, LONG_MAX, v)) {
      preset->outputSize = OutputDimensions{v[0], v[1]};
      check(PresetField::OutputSize);
    } else {
      note(Refuse(PresetField::OutputSize, size->text));
    }
  }
  if (const PresetValue* mode = stored(Key::InterpolationMode, false, PresetField::Interpolation)) {
    preset->interpolation = mode->number;
    check(PresetField::Interpolation);
  }
  if (const PresetValue* format = stored(Key::OutputFormat, true, PresetField::Format)) {
    // An empty name is no format: the host's choice.
    if (!format->text.empty()) note(SetField(preset, PresetField::Format, format->text));
  }
  const struct {
    const wchar_t* key;
    std::optional<bool>* flag;
  } flags[] = {{Key::IncludeCursor, &preset->cursor},
               {Key::CaptureTransparentWindows, &preset->layeredWindows},
               {Key::FramePacing, &preset->framePacing}};
  for (const auto& f : flags) {
    if (const PresetValue* value = stored(f.key, false, PresetField::Stored)) *f.flag = value->number != 0;
  }
  return first;
}

std::wstring StoredText(const PresetValue& value) {
  return value.key + L"=" + (value.isText ? value.text : std::to_wstring(value.number));
}

std::wstring PresetSummary(const Preset& preset) {
  std::wstring region;
  if (preset.rectangle) {
    const RECT& r = *preset.rectangle;
    region = std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L" " +
             std::to_wstring(static_cast<long long>(r.right) - r.left) + L"x" +
             std::to_wstring(static_cast<long long>(r.bottom) - r.top);
  }
  std::wstring text;
  switch (preset.target) {
    case CaptureTarget::Display: text = L"whole display"; break;
    case CaptureTarget::Rectangle: text = L"region " + region; break;
    case CaptureTarget::Monitor:
      text = L"monitor " + std::to_wstring(preset.monitor.value_or(SourceLimits::kMinMonitor));
      break;
    case CaptureTarget::Desktop: text = L"whole desktop"; break;
    case CaptureTarget::Window:
      text = L"window \"" + preset.windowTitle + L"\"";
      if (preset.rectangle) text += L", its region " + region;
      break;
  }
  text += L"; " + std::to_wstring(preset.rate()) + L" fps";
  if (preset.outputSize) {
    text += L"; scaled to " + FieldText(preset, PresetField::OutputSize);
    if (preset.interpolation) {
      const InterpolationChoice* choice = FindInterpolation(*preset.interpolation);
      text += L" (" + (choice ? std::wstring(choice->label) : L"GDI+ mode " + std::to_wstring(*preset.interpolation)) +
              L")";
    }
  }
  if (preset.format) text += L"; " + FieldText(preset, PresetField::Format);
  if (preset.rateMode.value_or(kRateByFrameCount) != kRateByFrameCount) text += L"; stamps by grab time";
  text += preset.cursor.value_or(false) ? L"; cursor" : L"; no cursor";
  if (preset.layeredWindows.value_or(false)) text += L"; layered windows";
  if (!preset.framePacing.value_or(true)) text += L"; unpaced";
  return text;
}

}  // namespace dorvantel
