#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "base/handles.h"
#include "hostkit/apartment.h"
#include "hostkit/device_registration.h"
#include "hostkit/options.h"
#include "preset/preset.h"
#include "hostkit/source_setup.h"
#include "module/dorvantel.h"
#include "tests/support/library.h"

using namespace dorvantel;

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// Stored values as one line: "KEY=VALUE;..."
std::wstring Line(const std::vector<PresetValue>& values) {
  std::wstring line;
  for (const PresetValue& value : values) line += StoredText(value) + L";";
  return line;
}

std::wstring Stored(const std::vector<std::wstring>& args) {
  const ParsedOptions<PresetOptions> parsed = ParsePresetOptions(args);
  EXPECT_TRUE(parsed.ok()) << Narrow(parsed.error);
  return Line(StoredValues(parsed.options.preset));
}

// Presets that name every setting between them, at the ends of their ranges, with a title
// that a command line must quote.
std::vector<Preset> EveryField() {
  Preset window;
  window.target = CaptureTarget::Window;
  window.windowTitle = L"say \"cheese\" in C:\\Temp\\ \u00e9t\u00e9";
  window.rectangle = RECT{-20, 30, 300, 270};
  window.frameRate = SourceLimits::kMaxFrameRate;
  window.rateMode = kRateByGrabTimes;
  window.outputSize = OutputDimensions{SourceLimits::kMaxOutputSide, SourceLimits::kMinOutputSide};
  window.interpolation = 6;
  window.format = PixelFormat::Rgb8;
  window.cursor = false;
  window.layeredWindows = true;
  window.framePacing = false;

  Preset region;
  region.target = CaptureTarget::Rectangle;
  region.rectangle = RECT{-1000000, 999999, 0, 1000000};
  region.frameRate = SourceLimits::kMinFrameRate;
  region.outputSize = OutputDimensions{SourceLimits::kMinOutputSide, SourceLimits::kMaxOutputSide};
  region.interpolation = kInterpolationFast;
  region.format = PixelFormat::Rgb555;
  region.cursor = true;
  region.framePacing = true;

  Preset wholeWindow;
  wholeWindow.target = CaptureTarget::Window;
  wholeWindow.windowTitle = L"Notepad";
  wholeWindow.rateMode = kRateByFrameCount;
  wholeWindow.interpolation = 0;

  Preset monitor;
  monitor.target = CaptureTarget::Monitor;
  monitor.monitor = SourceLimits::kMaxMonitor;
  monitor.frameRate = 25;

  Preset desktop;
  desktop.target = CaptureTarget::Desktop;
  desktop.cursor = true;

  Preset display;
  display.format = PixelFormat::Rgb32;
  return {window, region, wholeWindow, monitor, desktop, display};
}

TEST(Preset, EveryFieldRoundTripsThroughTheCommandLineAndTheStoredValues) {
  for (const Preset& preset : EveryField()) {
    const std::wstring stored = Line(StoredValues(preset));
    EXPECT_TRUE(CheckPreset(preset).ok()) << Narrow(stored);
    const ParsedOptions<PresetOptions> parsed = ParsePresetOptions(PresetArguments(preset));
    ASSERT_TRUE(parsed.ok()) << Narrow(parsed.error);
    EXPECT_TRUE(parsed.options.preset == preset) << "through the command line: " << Narrow(stored);
    // A device stores the filter's own scaler where the preset names none, and reads it back.
    Preset device = preset;
    if (!device.interpolation) device.interpolation = kInterpolationFast;
    Preset read;
    EXPECT_TRUE(ReadStoredValues(StoredValues(preset), &read).ok()) << Narrow(stored);
    EXPECT_TRUE(read == device) << "through the stored values: " << Narrow(stored);
  }
}

// Hosts' binds read these through IPersistPropertyBag::Load: their names, forms and values
// stay as they always were. Every device stores the filter's own scaler unless it names
// another, for hosts that bind it by name and ask for a size (GDI+, the filter's own default,
// gave a fifth to a half of the frames at 640x480).
TEST(Preset, StoresTheValuesHostsLoad) {
  EXPECT_EQ(
      L"CaptureArea=3;WindowTitle=Notepad;CaptureValue=10,20,310,220;FrameRate=25;InterpolationMode=100;"
      L"OutputFormat=rgb24;IncludeCursor=0;",
      Stored({L"--name", L"Dorvantel editor", L"--window", L"Notepad", L"--rect", L"10,20,300,200", L"--rate=25",
              L"--format", L"RGB24", L"--no-cursor"}));
  EXPECT_EQ(
      L"CaptureArea=1;CaptureValue=-20,30,300,270;FrameRateMode=2;OutputDimensions=640x360;"
      L"InterpolationMode=100;CaptureTransparentWindows=1;FramePacing=0;",
      Stored(
          {L"--rect", L"-20,30,320,240", L"--size", L"640x360", L"--layered", L"--rate-mode", L"2", L"--no-pacing"}));
  EXPECT_EQ(L"OutputDimensions=1x1;InterpolationMode=7;IncludeCursor=1;",
            Stored({L"--size", L"1x1", L"--interpolation", L"hq-bicubic", L"--cursor"}));
  // A monitor by its number, the desktop by its area alone.
  EXPECT_EQ(L"CaptureArea=4;CaptureValue=2;InterpolationMode=100;", Stored({L"--monitor", L"2"}));
  EXPECT_EQ(L"CaptureArea=5;InterpolationMode=100;", Stored({L"--desktop"}));
  EXPECT_EQ(L"InterpolationMode=100;", Stored({}));
  // Any one option alone, the format's too (YUV's names as the filter spells them).
  EXPECT_EQ(L"InterpolationMode=100;OutputFormat=rgb24;", Stored({L"--format", L"rgb24"}));
  EXPECT_EQ(L"InterpolationMode=100;OutputFormat=i420;", Stored({L"--format", L"I420"}));
  EXPECT_EQ(L"FrameRate=30;InterpolationMode=100;", Stored({L"--rate", L"30"}));
  EXPECT_EQ(L"InterpolationMode=100;IncludeCursor=1;", Stored({L"--cursor"}));
  EXPECT_EQ(L"InterpolationMode=0;OutputFormat=nv12;", Stored({L"--interpolation", L"default", L"--format", L"nv12"}));
}

// The register tool's register command takes the capture options and a name, nothing of recording.
TEST(Preset, TheRegisterToolTakesNothingOfRecording) {
  for (const std::vector<std::wstring>& bad : std::vector<std::vector<std::wstring>>{
           {L"--rate", L"0"}, {L"--seconds", L"3"}, {L"--device", L"x"}, {L"--demo"}, {L"out.avi"}, {L"--name", L""}}) {
    const ParsedOptions<PresetOptions> refused = ParsePresetOptions(bad);
    EXPECT_FALSE(refused.ok()) << Narrow(bad[0]);
    EXPECT_EQ(std::wstring::npos, refused.error.find(L'\n'));
  }
  EXPECT_EQ(L"Dorvantel editor", ParsePresetOptions({L"--name", L"Dorvantel editor"}).options.name);
}

// The recorder, the register tool and the settings program's fields refuse a value with the
// same text, which names the field it belongs to; so do the device's stored values and a preset
// checked as a whole.
TEST(Preset, ABadValueIsRefusedWithOneMessageEverywhere) {
  const struct {
    PresetField field;
    const wchar_t* option;
    const wchar_t* text;
  } cases[] = {
      {PresetField::FrameRate, L"--rate", L"5000"},           {PresetField::FrameRate, L"--rate", L"ten"},
      {PresetField::RateMode, L"--rate-mode", L"3"},          {PresetField::Rectangle, L"--rect", L"1,2,0,5"},
      {PresetField::OutputSize, L"--size", L"640x8193"},      {PresetField::OutputSize, L"--size", L"0x480"},
      {PresetField::Interpolation, L"--interpolation", L"8"}, {PresetField::Format, L"--format", L"yv12"},
      {PresetField::WindowTitle, L"--window", L""},           {PresetField::Monitor, L"--monitor", L"33"},
  };
  for (const auto& c : cases) {
    Preset edited;
    const PresetProblem problem = SetField(&edited, c.field, c.text);
    EXPECT_EQ(c.field, problem.field) << Narrow(c.option);
    EXPECT_EQ(0u, problem.message.find(std::wstring(c.option) + L" needs ")) << Narrow(problem.message);
    EXPECT_TRUE(edited == Preset{}) << "a refused value changes nothing: " << Narrow(c.option);
    EXPECT_EQ(problem.message, ParseRecorderOptions({c.option, c.text, L"x.avi"}).error);
    EXPECT_EQ(problem.message, ParsePresetOptions({c.option, c.text}).error);
  }
  Preset edited;
  EXPECT_EQ(L"Needs a whole number of frames per second from 1 to 1000, not \"5000\"",
            FieldMessage(SetField(&edited, PresetField::FrameRate, L"5000")));

  // Values the filter takes but the tools do not make, read from a device's key.
  const std::wstring rate = SetField(&edited, PresetField::FrameRate, L"5000").message;
  Preset read;
  PresetProblem problem = ReadStoredValues({{L"FrameRate", false, 5000, {}}, {L"IncludeCursor", false, 1, {}}}, &read);
  EXPECT_EQ(rate, problem.message);
  EXPECT_EQ(true, read.cursor) << "what is good is read all the same";
  read.frameRate = 5000;
  EXPECT_EQ(rate, CheckPreset(read).message);
  problem = ReadStoredValues({{L"OutputDimensions", true, 0, L"0x360"}}, &read);
  EXPECT_EQ(SetField(&edited, PresetField::OutputSize, L"0x360").message, problem.message);
  problem = ReadStoredValues({{L"CaptureArea", false, 1, {}}, {L"CaptureValue", true, 0, L"10,20,10,25"}}, &read);
  EXPECT_EQ(SetField(&edited, PresetField::Rectangle, L"10,20,0,5").message, problem.message);
  EXPECT_EQ(PresetField::Area, ReadStoredValues({{L"CaptureArea", false, 7, {}}}, &read).field);
  EXPECT_EQ(PresetField::FrameRate, ReadStoredValues({{L"FrameRate", true, 0, L"25"}}, &read).field);
  EXPECT_EQ(PresetField::WindowTitle, ReadStoredValues({{L"CaptureArea", false, 3, {}}}, &read).field);
  EXPECT_EQ(PresetField::Monitor,
            ReadStoredValues({{L"CaptureArea", false, 4, {}}, {L"CaptureValue", true, 0, L"2"}}, &read).field);
}

TEST(Preset, ASummarySaysWhatItCaptures) {
  Preset region;
  ASSERT_TRUE(ParseRectangle(L"121,100,180,121", &region.rectangle.emplace()));
  region.target = CaptureTarget::Rectangle;
  region.frameRate = 25;
  region.outputSize = OutputDimensions{90, 60};
  region.interpolation = kInterpolationFast;
  EXPECT_EQ(L"region 121,100 180x121; 25 fps; scaled to 90x60 (fast); no cursor", PresetSummary(region));
  region.interpolation = 3;
  region.framePacing = false;
  EXPECT_EQ(L"region 121,100 180x121; 25 fps; scaled to 90x60 (GDI+ bilinear); no cursor; unpaced",
            PresetSummary(region));
  EXPECT_EQ(L"whole display; 10 fps; no cursor", PresetSummary(Preset{}));
  EXPECT_EQ(L"monitor 2; 10 fps; no cursor", PresetSummary(ParsePresetOptions({L"--monitor", L"2"}).options.preset));
  EXPECT_EQ(L"whole desktop; 10 fps; no cursor", PresetSummary(ParsePresetOptions({L"--desktop"}).options.preset));
}

// A preset registered as a device reads back from the device's key as it was, and the key
// holds DWORDs and strings, as hosts' binds read them.
TEST(Preset, RoundTripsThroughADevicesRegistryKey) {
  ComApartment apartment(COINIT_MULTITHREADED);
  ASSERT_TRUE(apartment.joined());
  const std::wstring name = L"Dorvantel preset round trip";
  const Preset preset = EveryField()[0];
  std::wstring error;
  ASSERT_EQ(S_OK, RegisterDevice(ProgramFolder() + L"..\\" DORVANTEL_DLL_NAME, name, StoredValues(preset), &error))
      << Narrow(error);

  RegistryKey key;
  ASSERT_EQ(
      ERROR_SUCCESS,
      ::RegOpenKeyExW(HKEY_CLASSES_ROOT, (L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\" + name).c_str(),
                      0, KEY_READ, key.put()));
  for (const PresetValue& value : StoredValues(preset)) {
    BYTE data[2048] = {};
    DWORD type = 0, size = sizeof(data);
    ASSERT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(key.get(), value.key.c_str(), nullptr, &type, data, &size))
        << Narrow(value.key);
    if (value.isText) {
      EXPECT_EQ(static_cast<DWORD>(REG_SZ), type) << Narrow(value.key);
      EXPECT_EQ((value.text.size() + 1) * sizeof(wchar_t), size) << Narrow(value.key);
      EXPECT_EQ(value.text, std::wstring(reinterpret_cast<const wchar_t*>(data))) << Narrow(value.key);
    } else {
      EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type) << Narrow(value.key);
      EXPECT_EQ(sizeof(DWORD), size) << Narrow(value.key);
      EXPECT_EQ(static_cast<DWORD>(value.number), *reinterpret_cast<const DWORD*>(data)) << Narrow(value.key);
    }
  }
  key.reset();

  std::vector<VideoInputDevice> devices;
  ASSERT_EQ(S_OK, ListVideoInputDevices(&devices));
  bool found = false;
  for (const VideoInputDevice& device : devices) {
    if (device.name != name) continue;
    found = true;
    Preset read;
    EXPECT_TRUE(ReadStoredValues(device.stored, &read).ok());
    EXPECT_TRUE(read == preset) << Narrow(Line(device.stored));
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(S_OK, UnregisterDevice(name, &error)) << Narrow(error);
}

// What a filter holds, as its IPersistPropertyBag::Save writes it.
class SavedBag : public IPropertyBag {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = iid == IID_IUnknown || iid == IID_IPropertyBag ? static_cast<IPropertyBag*>(this) : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR, VARIANT*, IErrorLog*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
    if (value->vt == VT_BSTR) values.push_back(PresetValue{name, true, 0, value->bstrVal ? value->bstrVal : L""});
    if (value->vt == VT_I4) values.push_back(PresetValue{name, false, value->lVal, {}});
    return S_OK;
  }
  std::vector<PresetValue> values;
};

Preset Saved(IBaseFilter* filter) {
  ComPtr<IPersistPropertyBag> persist;
  SavedBag bag;
  EXPECT_EQ(S_OK, filter->QueryInterface(IID_IPersistPropertyBag, persist.put_void()));
  if (persist) {
    EXPECT_EQ(S_OK, persist->Save(&bag, FALSE, TRUE));
  }
  Preset saved;
  EXPECT_TRUE(ReadStoredValues(bag.values, &saved).ok()) << Narrow(Line(bag.values));
  return saved;
}

// The recorder writes its own defaults for what its command line leaves out (the cursor drawn);
// a device keeps its own settings there, and takes what the command line names.
TEST(Preset, TheRecorderWritesItsDefaultsAndADeviceKeepsItsOwn) {
  ComApartment apartment(COINIT_MULTITHREADED);
  LoadedLibrary library;
  ASSERT_TRUE(library.loaded());
  {
    std::wstring error;
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, library.CreateFilter(&filter));
    ASSERT_EQ(S_OK, ConfigureSource(filter.get(), Preset{}, Unnamed::Default, nullptr, &error)) << Narrow(error);
    Preset saved = Saved(filter.get());
    EXPECT_EQ(CaptureTarget::Display, saved.target);
    EXPECT_EQ(true, saved.cursor);
    EXPECT_EQ(false, saved.layeredWindows);
    EXPECT_EQ(kDefaultFrameRate, saved.frameRate);
    EXPECT_EQ(kInterpolationFast, saved.interpolation) << "the filter's own scaler, as every device has it";

    Preset device;
    device.target = CaptureTarget::Rectangle;
    device.rectangle = RECT{10, 20, 330, 260};
    device.frameRate = 25;
    device.cursor = false;
    device.format = PixelFormat::Rgb24;
    ASSERT_EQ(S_OK, library.CreateFilter(&filter));
    ASSERT_EQ(S_OK, LoadPreset(filter.get(), device));
    Preset commandLine;
    commandLine.frameRate = 5;
    commandLine.rateMode = kRateByGrabTimes;
    ASSERT_EQ(S_OK, ConfigureSource(filter.get(), commandLine, Unnamed::Kept, nullptr, &error)) << Narrow(error);
    saved = Saved(filter.get());
    EXPECT_EQ(CaptureTarget::Rectangle, saved.target);
    EXPECT_TRUE(saved.rectangle && ::EqualRect(&*saved.rectangle, &*device.rectangle));
    EXPECT_EQ(false, saved.cursor);
    EXPECT_EQ(PixelFormat::Rgb24, saved.format);
    EXPECT_EQ(kInterpolationFast, saved.interpolation) << "a device that names no scaler has the fast one";
    EXPECT_EQ(5, saved.frameRate);
    EXPECT_EQ(kRateByGrabTimes, saved.rateMode);
  }
  EXPECT_EQ(S_OK, library.CanUnloadNow());
}

}  // namespace
