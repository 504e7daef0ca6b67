#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "hostkit/options.h"
#include "settings/device_store.h"

using namespace dorvantel;

namespace {

// The other bitness's register tool gets the preset as a command line: every argument must
// come back as it was, whatever a name or a window title holds.
TEST(SettingsDeviceStore, ArgumentsReachTheOtherRegisterToolAsTheyAre) {
  const std::vector<std::wstring> arguments = {
      L"register", L"--name", L"Dorvantel rect", L"", L"plain", L"say \"cheese\"", L"C:\\Users\\x\\",
      L"C:\\Program Files\\Dorvantel\\", L"a\\\\\"b", L"tab\there", L"\\\"", L"Größe Захват", L"\\\\server\\share"};
  std::wstring line = QuoteArgument(L"C:\\Program Files\\Dorvantel\\32-bit\\dorvantel-register.exe");
  for (const std::wstring& argument : arguments) line += L" " + QuoteArgument(argument);
  int count = 0;
  LPWSTR* read = ::CommandLineToArgvW(line.c_str(), &count);
  ASSERT_NE(nullptr, read);
  std::vector<std::wstring> back(read + 1, read + count);
  ::LocalFree(read);
  EXPECT_EQ(arguments, back);
}

// A preset saved in the other view reaches the other register tool as its command line and
// reads back there as the same preset.
TEST(SettingsDeviceStore, APresetReachesTheOtherRegisterToolAsItIs) {
  Preset preset;
  preset.target = CaptureTarget::Window;
  preset.windowTitle = L"say \"cheese\" \\\"x\\ C:\\Temp\\";
  preset.rectangle = RECT{-5, 0, 95, 40};
  preset.frameRate = 30;
  preset.outputSize = OutputDimensions{320, 200};
  preset.interpolation = 7;
  preset.format = PixelFormat::Rgb565;
  preset.cursor = false;
  preset.framePacing = false;
  std::wstring line = QuoteArgument(L"dorvantel-register.exe") + L" register --name " + QuoteArgument(L"My \"preset\"");
  for (const std::wstring& argument : PresetArguments(preset)) line += L" " + QuoteArgument(argument);
  int count = 0;
  LPWSTR* read = ::CommandLineToArgvW(line.c_str(), &count);
  ASSERT_NE(nullptr, read);
  const std::vector<std::wstring> args(read + 2, read + count);
  ::LocalFree(read);
  const ParsedOptions<PresetOptions> parsed = ParsePresetOptions(args);
  ASSERT_TRUE(parsed.ok()) << std::string(parsed.error.begin(), parsed.error.end());
  EXPECT_EQ(L"My \"preset\"", parsed.options.name);
  EXPECT_TRUE(parsed.options.preset == preset);
}

}  // namespace
