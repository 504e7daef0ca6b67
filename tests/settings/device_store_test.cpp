#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

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

}  // namespace
