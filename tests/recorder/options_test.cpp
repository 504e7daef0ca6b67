#include <gtest/gtest.h>

#include "hostkit/device_registration.h"
#include "hostkit/options.h"
#include "module/dorvantel.h"

using namespace dorvantel;

namespace {

ParsedOptions<RecorderOptions> Parse(std::vector<std::wstring> args) { return ParseRecorderOptions(args); }

// Nothing named: the recorder's own defaults apply when it writes the filter's settings
// (the whole display, the cursor drawn, 10 frames a second, RGB32; preset_test.cpp).
TEST(RecorderOptions, DefaultsNameNoSetting) {
  ParsedOptions<RecorderOptions> parsed = Parse({L"out.avi"});
  ASSERT_TRUE(parsed.ok()) << parsed.error.c_str();
  const RecorderOptions& o = parsed.options;
  EXPECT_EQ(L"out.avi", o.output);
  EXPECT_TRUE(o.preset == Preset{});
  EXPECT_EQ(10, o.preset.rate());
  EXPECT_EQ(0.0, o.seconds);
  EXPECT_FALSE(o.rawOutput());
}

TEST(RecorderOptions, EveryOptionReachesItsSetting) {
  ParsedOptions<RecorderOptions> parsed =
      Parse({L"--seconds", L"2.5", L"--rate=25", L"--rate-mode", L"1", L"--rect", L"-10,20,300,200", L"--size",
             L"640x360", L"--interpolation", L"hq-bicubic", L"--format", L"RGB565", L"--no-cursor", L"--layered",
             L"--no-pacing", L"--quiet", L"-"});
  ASSERT_TRUE(parsed.ok()) << parsed.error.c_str();
  const RecorderOptions& o = parsed.options;
  const Preset& p = o.preset;
  EXPECT_EQ(2.5, o.seconds);
  EXPECT_EQ(25, p.frameRate);
  EXPECT_EQ(1, p.rateMode);
  EXPECT_EQ(CaptureTarget::Rectangle, p.target);
  ASSERT_TRUE(p.rectangle);
  EXPECT_EQ(-10, p.rectangle->left);
  EXPECT_EQ(20, p.rectangle->top);
  EXPECT_EQ(290, p.rectangle->right);
  EXPECT_EQ(220, p.rectangle->bottom);
  ASSERT_TRUE(p.outputSize);
  EXPECT_EQ(640, p.outputSize->width);
  EXPECT_EQ(360, p.outputSize->height);
  EXPECT_EQ(7, p.interpolation);
  EXPECT_EQ(PixelFormat::Rgb565, p.format);
  EXPECT_EQ(false, p.cursor);
  EXPECT_EQ(true, p.layeredWindows);
  EXPECT_EQ(false, p.framePacing);
  EXPECT_TRUE(o.quiet);
  EXPECT_TRUE(o.rawOutput());
}

// A size without an interpolation scales with the filter's own scaler; one named stays.
TEST(RecorderOptions, ASizeScalesFastUnlessAnInterpolationIsNamed) {
  for (const auto& c : {std::make_pair(std::vector<std::wstring>{L"--size", L"640x360", L"x.avi"}, kInterpolationFast),
                        std::make_pair(std::vector<std::wstring>{L"--interpolation", L"FAST", L"x.avi"}, kInterpolationFast),
                        std::make_pair(std::vector<std::wstring>{L"--size", L"640x360", L"--interpolation=default", L"x.avi"}, 0L),
                        std::make_pair(std::vector<std::wstring>{L"--interpolation=nearest", L"--size", L"9x9", L"x.avi"}, 5L)}) {
    ParsedOptions<RecorderOptions> parsed = Parse(c.first);
    ASSERT_TRUE(parsed.ok()) << parsed.error.c_str();
    EXPECT_EQ(c.second, parsed.options.preset.interpolation);
  }
  EXPECT_FALSE(Parse({L"x.avi"}).options.preset.interpolation) << "no size: the device's own mode stays";
}

TEST(RecorderOptions, AWindowTitleWinsOverAScreenRectangle) {
  ParsedOptions<RecorderOptions> parsed = Parse({L"--window", L"Dorvantel demo", L"--rect", L"0,0,10,10", L"x.AVI"});
  ASSERT_TRUE(parsed.ok()) << parsed.error.c_str();
  EXPECT_EQ(CaptureTarget::Window, parsed.options.preset.target);
  EXPECT_TRUE(parsed.options.preset.rectangle);
  EXPECT_EQ(L"Dorvantel demo", parsed.options.preset.windowTitle);
}

TEST(RecorderOptions, TheDemoWindowTakesAnOptionalPlace) {
  ParsedOptions<RecorderOptions> parsed = Parse({L"--demo", L"x.avi"});
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
  ParsedOptions<RecorderOptions> parsed = Parse({L"--help"});
  EXPECT_TRUE(parsed.ok());
  EXPECT_TRUE(parsed.options.help);
}

TEST(RecorderOptions, ListingTheMonitorsRecordsNothing) {
  ParsedOptions parsed = Parse({L"--monitors"});
  ASSERT_TRUE(parsed.ok()) << parsed.error.c_str();
  EXPECT_TRUE(parsed.options.listMonitors);
  EXPECT_FALSE(Parse({L"--monitors", L"y.avi"}).ok());
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
      {{L"--format", L"yv12", L"x.avi"}, L"--format"},
      {{L"--window", L"", L"x.avi"}, L"--window"},
      {{L"--window", std::wstring(512, L'w'), L"x.avi"}, L"at most 511 characters"},  // could never match
      {{L"--pacing=1", L"x.avi"}, L"unknown option --pacing"},
      {{L"--monitor", L"0", L"x.avi"}, L"--monitor"},
      {{L"--monitor", L"33", L"x.avi"}, L"--monitor"},
      {{L"--monitor", L"2", L"--rect", L"0,0,10,10", L"x.avi"}, L"choose one"},
      {{L"--desktop", L"--monitor", L"1", L"x.avi"}, L"choose one"},
      {{L"x.avi", L"--rate"}, L"--rate needs a value"},
      {{}, L"no output"},
      {{L"--seconds", L"3"}, L"no output"},
      {{L"capture.mp4"}, L"not an .avi file"},
      {{L"a.avi", L"b.avi"}, L"more than one output"},
  };
  for (const auto& c : cases) {
    ParsedOptions<RecorderOptions> parsed = Parse(c.args);
    std::wstring line = c.args.empty() ? L"(none)" : c.args[0];
    EXPECT_FALSE(parsed.ok()) << "accepted: " << std::string(line.begin(), line.end());
    EXPECT_NE(std::wstring::npos, parsed.error.find(c.says))
        << std::string(parsed.error.begin(), parsed.error.end());
    EXPECT_EQ(std::wstring::npos, parsed.error.find(L'\n'));
  }
}

TEST(RecorderOptions, ADeviceNameIsNotEmptyHoldsNoBackslashAndNoOuterSpace) {
  EXPECT_EQ(L"", CheckDeviceName(L"Dorvantel rect"));
  EXPECT_NE(L"", CheckDeviceName(L""));
  EXPECT_NE(L"", CheckDeviceName(L"a\\b"));
  EXPECT_NE(L"", CheckDeviceName(L"Dorvantel "));
  EXPECT_NE(L"", CheckDeviceName(L" Dorvantel"));
  EXPECT_EQ(L"", CheckDeviceName(L"Dorvantel  left half"));
}

}  // namespace
