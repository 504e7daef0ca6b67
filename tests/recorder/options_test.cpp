#include <gtest/gtest.h>

#include "module/dorvantel.h"
#include "hostkit/device_registration.h"
#include "hostkit/options.h"

using namespace dorvantel;

namespace {

ParsedOptions Parse(std::vector<std::wstring> args) { return ParseOptions(args); }

TEST(RecorderOptions, DefaultsRecordTheWholeDisplayWithCursorAtTenFramesInRgb32) {
  ParsedOptions parsed = Parse({L"out.avi"});
  ASSERT_TRUE(parsed.ok()) << parsed.error.c_str();
  const RecorderOptions& o = parsed.options;
  EXPECT_EQ(L"out.avi", o.output);
  EXPECT_EQ(CaptureTarget::Display, o.target);
  EXPECT_TRUE(o.cursor);
  EXPECT_FALSE(o.layeredWindows);
  EXPECT_EQ(10, o.frameRate);
  EXPECT_EQ(0, o.frameRateMode);
  EXPECT_FALSE(o.scaled);
  EXPECT_EQ(PixelFormat::Rgb32, o.pixels);
  EXPECT_EQ(0.0, o.seconds);
  EXPECT_FALSE(o.rawOutput());
}

TEST(RecorderOptions, EveryOptionReachesItsSetting) {
  ParsedOptions parsed = Parse({L"--seconds", L"2.5", L"--rate=25", L"--rate-mode", L"1", L"--rect",
                                L"-10,20,300,200", L"--size", L"640x360", L"--interpolation", L"hq-bicubic",
                                L"--format", L"RGB565", L"--no-cursor", L"--layered", L"--quiet", L"-"});
  ASSERT_TRUE(parsed.ok()) << parsed.error.c_str();
  const RecorderOptions& o = parsed.options;
  EXPECT_EQ(2.5, o.seconds);
  EXPECT_EQ(25, o.frameRate);
  EXPECT_EQ(1, o.frameRateMode);
  EXPECT_EQ(CaptureTarget::Rectangle, o.target);
  EXPECT_EQ(-10, o.rectangle.left);
  EXPECT_EQ(20, o.rectangle.top);
  EXPECT_EQ(290, o.rectangle.right);
  EXPECT_EQ(220, o.rectangle.bottom);
  EXPECT_TRUE(o.scaled);
  EXPECT_EQ(640, o.outputWidth);
  EXPECT_EQ(360, o.outputHeight);
  EXPECT_EQ(7, o.interpolation);
  EXPECT_EQ(PixelFormat::Rgb565, o.pixels);
  EXPECT_FALSE(o.cursor);
  EXPECT_TRUE(o.layeredWindows);
  EXPECT_TRUE(o.quiet);
  EXPECT_TRUE(o.rawOutput());
}

// A size without an interpolation scales with the filter's own scaler; one named stays.
TEST(RecorderOptions, ASizeScalesFastUnlessAnInterpolationIsNamed) {
  for (const auto& c : {std::make_pair(std::vector<std::wstring>{L"--size", L"640x360", L"x.avi"}, kInterpolationFast),
                        std::make_pair(std::vector<std::wstring>{L"--interpolation", L"FAST", L"x.avi"}, kInterpolationFast),
                        std::make_pair(std::vector<std::wstring>{L"--size", L"640x360", L"--interpolation=default", L"x.avi"}, 0L),
                        std::make_pair(std::vector<std::wstring>{L"--interpolation=nearest", L"--size", L"9x9", L"x.avi"}, 5L)}) {
    ParsedOptions parsed = Parse(c.first);
    ASSERT_TRUE(parsed.ok()) << parsed.error.c_str();
    EXPECT_EQ(c.second, parsed.options.interpolation);
    EXPECT_TRUE(parsed.options.interpolationGiven);
  }
  EXPECT_FALSE(Parse({L"x.avi"}).options.interpolationGiven) << "no size: the device's own mode stays";
}

TEST(RecorderOptions, AWindowTitleWinsOverAScreenRectangle) {
  ParsedOptions parsed = Parse({L"--window", L"Dorvantel demo", L"--rect", L"0,0,10,10", L"x.AVI"});
  ASSERT_TRUE(parsed.ok()) << parsed.error.c_str();
  EXPECT_EQ(CaptureTarget::Window, parsed.options.target);
  EXPECT_TRUE(parsed.options.hasRectangle);
  EXPECT_EQ(L"Dorvantel demo", parsed.options.windowTitle);
}

TEST(RecorderOptions, TheDemoWindowTakesAnOptionalPlace) {
  ParsedOptions parsed = Parse({L"--demo", L"x.avi"});
  ASSERT_TRUE(parsed.ok());
  EXPECT_TRUE(parsed.options.demo);
  EXPECT_TRUE(::IsRectEmpty(&parsed.options.demoBounds));
  parsed = Parse({L"--demo=10,20,320,240", L"x.avi"});
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ(330, parsed.options.demoBounds.right);
  EXPECT_EQ(260, parsed.options.demoBounds.bottom);
  EXPECT_FALSE(Parse({L"--demo=10,20,0,240", L"x.avi"}).ok());
}

TEST(RecorderOptions, HelpNeedsNoOutput) {
  ParsedOptions parsed = Parse({L"--help"});
  EXPECT_TRUE(parsed.ok());
  EXPECT_TRUE(parsed.options.help);
}

TEST(RecorderOptions, RecoverMakesItsOwnOutput) {
  ParsedOptions parsed = Parse({L"--recover", L"x.avi.part"});
  ASSERT_TRUE(parsed.ok()) << parsed.error.c_str();
  EXPECT_EQ(L"x.avi.part", parsed.options.recover);
  EXPECT_FALSE(Parse({L"--recover", L"x.avi.part", L"y.avi"}).ok());
  EXPECT_FALSE(Parse({L"--recover="}).ok());
}

TEST(RecorderOptions, BadInputIsOneLineNamingTheProblem) {
  const struct {
    std::vector<std::wstring> args;
    const wchar_t* says;
  } cases[] = {
      {{L"--bogus", L"x.avi"}, L"unknown option --bogus"},
      {{L"--rate", L"0", L"x.avi"}, L"--rate"},
      {{L"--rate", L"1001", L"x.avi"}, L"--rate"},
      {{L"--rate", L"ten", L"x.avi"}, L"--rate"},
      {{L"--rate", L" 5", L"x.avi"}, L"--rate"},
      {{L"--rate-mode", L"3", L"x.avi"}, L"--rate-mode"},
      {{L"--seconds", L"0", L"x.avi"}, L"--seconds"},
      {{L"--seconds", L"nan", L"x.avi"}, L"--seconds"},
      {{L"--rect", L"1,2,3", L"x.avi"}, L"--rect"},
      {{L"--rect", L"1,2,0,5", L"x.avi"}, L"--rect"},
      {{L"--rect", L"1,2,3,4,5", L"x.avi"}, L"--rect"},
      {{L"--size", L"640", L"x.avi"}, L"--size"},
      {{L"--size", L"0x480", L"x.avi"}, L"--size"},
      {{L"--size", L"20000x480", L"x.avi"}, L"--size"},
      {{L"--size", L"640x8193", L"x.avi"}, L"--size"},  // beyond the largest frame the filter makes
      {{L"--interpolation", L"8", L"x.avi"}, L"--interpolation"},
      {{L"--format", L"yuy2", L"x.avi"}, L"--format"},
      {{L"--window", L"", L"x.avi"}, L"--window"},
      {{L"x.avi", L"--rate"}, L"--rate needs a value"},
      {{}, L"no output"},
      {{L"--seconds", L"3"}, L"no output"},
      {{L"capture.mp4"}, L"not an .avi file"},
      {{L"a.avi", L"b.avi"}, L"more than one output"},
  };
  for (const auto& c : cases) {
    ParsedOptions parsed = Parse(c.args);
    std::wstring line = c.args.empty() ? L"(none)" : c.args[0];
    EXPECT_FALSE(parsed.ok()) << "accepted: " << std::string(line.begin(), line.end());
    EXPECT_NE(std::wstring::npos, parsed.error.find(c.says))
        << std::string(parsed.error.begin(), parsed.error.end());
    EXPECT_EQ(std::wstring::npos, parsed.error.find(L'\n'));
  }
}

// A preset: the same capture options and checks, a name instead of an output, and only what
// the command line names is stored.
TEST(RecorderOptions, APresetStoresOnlyTheCaptureOptionsItNames) {
  ParsedOptions parsed = ParseOptions({L"--name", L"Dorvantel editor", L"--window", L"Notepad", L"--rect",
                                       L"10,20,300,200", L"--rate=25", L"--format", L"RGB24", L"--no-cursor"},
                                      OptionsFor::Preset);
  ASSERT_TRUE(parsed.ok()) << parsed.error.c_str();
  EXPECT_EQ(L"Dorvantel editor", parsed.options.name);
  std::wstring stored;
  for (const PresetValue& v : PresetValues(parsed.options)) {
    stored += v.key + L"=" + (v.isText ? v.text : std::to_wstring(v.number)) + L";";
  }
  EXPECT_EQ(L"CaptureArea=3;WindowTitle=Notepad;CaptureValue=10,20,310,220;FrameRate=25;OutputFormat=rgb24;"
            L"IncludeCursor=0;",
            stored);
  // The plain device stores the filter's own scaler, for hosts that bind it by name and ask for a size.
  const std::vector<PresetValue> plain = PresetValues(ParseOptions({}, OptionsFor::Preset).options);
  ASSERT_EQ(1u, plain.size());
  EXPECT_EQ(L"InterpolationMode", plain[0].key);
  EXPECT_EQ(kInterpolationFast, plain[0].number);

  for (const std::vector<std::wstring>& bad : std::vector<std::vector<std::wstring>>{
           {L"--rate", L"0"}, {L"--seconds", L"3"}, {L"--device", L"x"}, {L"--demo"}, {L"out.avi"}, {L"--name", L""}}) {
    ParsedOptions refused = ParseOptions(bad, OptionsFor::Preset);
    EXPECT_FALSE(refused.ok()) << std::string(bad[0].begin(), bad[0].end());
    EXPECT_EQ(std::wstring::npos, refused.error.find(L'\n'));
  }
}

// What a preset stored reads back (as the device list shows it) as the register tool's options
// that store the same again: the settings program edits presets through this round trip.
TEST(RecorderOptions, AStoredPresetReadsBackAsTheOptionsThatStoreItAgain) {
  auto stored = [](const std::vector<std::wstring>& args) {
    std::vector<std::wstring> settings;
    for (const PresetValue& v : PresetValues(ParseOptions(args, OptionsFor::Preset).options)) {
      settings.push_back(v.key + L"=" + (v.isText ? v.text : std::to_wstring(v.number)));
    }
    return settings;
  };
  const std::vector<std::vector<std::wstring>> presets = {
      {},
      {L"--rect", L"-20,30,320,240", L"--rate", L"25"},
      {L"--window", L"Notepad"},
      {L"--window", L"Notepad, the editor", L"--rect", L"0,0,800,600", L"--no-cursor"},
      {L"--size", L"640x360", L"--interpolation", L"fast", L"--format", L"rgb565", L"--cursor", L"--layered",
       L"--rate-mode", L"2"},
      {L"--size", L"1x1", L"--interpolation", L"hq-bicubic"},
  };
  for (const auto& args : presets) {
    const std::vector<std::wstring> settings = stored(args);
    const std::vector<std::wstring> again = PresetArguments(settings);
    ParsedOptions parsed = ParseOptions(again, OptionsFor::Preset);
    ASSERT_TRUE(parsed.ok()) << std::string(parsed.error.begin(), parsed.error.end());
    EXPECT_EQ(settings, stored(again)) << (args.empty() ? "(none)" : std::string(args[0].begin(), args[0].end()));
  }
  // The filter's own scaler by name, and settings no option makes are left out.
  EXPECT_EQ((std::vector<std::wstring>{L"--size", L"640x360", L"--interpolation", L"fast"}),
            PresetArguments({L"OutputDimensions=640x360", L"InterpolationMode=100", L"FramePacing=0"}));
  EXPECT_EQ(kInterpolationFast, ParseOptions({L"--interpolation", L"FAST"}, OptionsFor::Preset).options.interpolation);

  const RecorderOptions region =
      ParseOptions({L"--rect", L"121,100,180,121", L"--rate", L"25", L"--size", L"90x60", L"--interpolation", L"fast"},
                   OptionsFor::Preset).options;
  EXPECT_EQ(L"region 121,100 180x121; 25 fps; scaled to 90x60 (fast); no cursor", PresetSummary(region));
  EXPECT_EQ(L"whole display; 10 fps; no cursor", PresetSummary(ParseOptions({}, OptionsFor::Preset).options));
}

TEST(RecorderOptions, ADeviceNameIsNotEmptyAndHoldsNoBackslash) {
  EXPECT_EQ(L"", CheckDeviceName(L"Dorvantel rect"));
  EXPECT_NE(L"", CheckDeviceName(L""));
  EXPECT_NE(L"", CheckDeviceName(L"a\\b"));
}

}  // namespace
