#pragma once
// Preset: every capture setting of the desktop source, typed, each left out where "not named"
// means the filter's default. Its text forms are read into it and written from it, never
// converted into each other: the values a capture device's registry key stores (what binding
// the device loads into the filter), the tools' command-line options (--rect, --rate, ...), and
// the text of the settings program's fields, which is the options' values. Each field has one
// check, its limits from SourceLimits, and one message that every program shows alike.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "preset/pixel_format.h"
#include "module/dorvantel.h"

namespace dorvantel {

// Display: the primary monitor; Desktop: every monitor (base/monitors.h numbers them).
enum class CaptureTarget { Display, Rectangle, Window, Monitor, Desktop };

// The filter's frame rate where a preset names none.
inline constexpr int kDefaultFrameRate = 10;

struct Preset {
  CaptureTarget target = CaptureTarget::Display;
  // Rectangle: of the screen; Window: a part of the window, relative to its corner (none: all of it).
  std::optional<RECT> rectangle;
  std::wstring windowTitle;    // Window: found by base/window_title.h's rule
  std::optional<int> monitor;  // Monitor: its number
  std::optional<int> frameRate;
  std::optional<int> rateMode;  // a SourceRateMode
  std::optional<OutputDimensions> outputSize;
  std::optional<int> interpolation;  // a GDI+ InterpolationMode, or kInterpolationFast
  std::optional<PixelFormat> format;
  std::optional<bool> cursor;
  std::optional<bool> layeredWindows;
  std::optional<bool> framePacing;

  int rate() const noexcept { return frameRate.value_or(kDefaultFrameRate); }
  bool operator==(const Preset& other) const noexcept;
  bool operator!=(const Preset& other) const noexcept { return !(*this == other); }
};

// What a message is about; the settings program shows it beside that field. Area is what to
// capture as a whole (one of --monitor, --desktop and --rect or --window; a stored CaptureArea),
// Stored a stored value of the wrong type.
enum class PresetField {
  Area,
  Rectangle,
  WindowTitle,
  Monitor,
  FrameRate,
  RateMode,
  OutputSize,
  Interpolation,
  Format,
  Stored
};

struct PresetProblem {
  PresetField field = PresetField::Stored;
  std::wstring message;  // one line, naming the tools' option ("--rate needs ..."); empty: none
  bool ok() const noexcept { return message.empty(); }
};

// The message as a field shows it: without the option's name, from a capital ("Needs ...").
std::wstring FieldMessage(const PresetProblem& problem);

// One of the scaling modes, in the order the settings program offers them.
struct InterpolationChoice {
  int mode;
  const wchar_t* name;   // as --interpolation takes it
  const wchar_t* label;  // as the settings program shows it
};
const std::vector<InterpolationChoice>& InterpolationChoices();

// A field's text as its option takes it and the settings program's field holds it: "25" for the
// rate, "X,Y,WIDTH,HEIGHT" for the rectangle, "WIDTHxHEIGHT" for the size, a name for the
// scaling and the format. SetField reads it into the preset (nothing changes when it is refused);
// FieldText writes it (empty when the preset leaves the field out).
PresetProblem SetField(Preset* preset, PresetField field, const std::wstring& text);
std::wstring FieldText(const Preset& preset, PresetField field);
// Every field the preset names, checked as SetField checks its text; the first problem.
PresetProblem CheckPreset(const Preset& preset);

// "X,Y,WIDTH,HEIGHT" with a positive width and height, as --rect takes it.
bool ParseRectangle(const std::wstring& text, RECT* rectangle);

// The command-line form: the capture options of the recorder and the register tool.
enum class CaptureOption { None, Flag, Valued };  // not one; one alone (--cursor); one with a value
CaptureOption FindCaptureOption(const std::wstring& name);
// Reads the capture option name (with its value, for one that takes one) into preset.
PresetProblem ReadCaptureOption(const std::wstring& name, const std::wstring& value, Preset* preset);
// What the options mean together, once all are read: one of --monitor, --desktop and --rect or
// --window names what to capture (a window title decides over a rectangle), and a size without a
// scaling scales with the filter's own scaler.
PresetProblem FinishCaptureOptions(Preset* preset);
// The options that make the preset again ("--rect", "100,80,320,240", "--rate", "25", ...).
std::vector<std::wstring> PresetArguments(const Preset& preset);

// The registry form: one value per setting the preset names, under the filter's own keys,
// numbers as DWORDs (VT_I4) and the rest as strings (VT_BSTR), as a device's key stores them and
// IPersistPropertyBag::Load reads them. A preset that names no interpolation stores
// InterpolationMode kInterpolationFast, so that a host that binds it by name and asks for
// another size scales with the filter's own scaler (read back, the preset names it).
struct PresetValue {
  std::wstring key;
  bool isText = false;
  LONG number = 0;
  std::wstring text;
};
std::vector<PresetValue> StoredValues(const Preset& preset);
// Values read back from a device's key; the first problem, with as much read as could be.
PresetProblem ReadStoredValues(const std::vector<PresetValue>& values, Preset* preset);
// A stored value as text: "KEY=VALUE".
std::wstring StoredText(const PresetValue& value);

// One line for people: what the preset captures and how.
std::wstring PresetSummary(const Preset& preset);

}  // namespace dorvantel
