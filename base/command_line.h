#pragma once
// Command lines of the programs this system starts: arguments quoted so that the C runtime and
// CommandLineToArgvW read them back as they are (window titles may hold spaces, quotes and
// backslashes).

#include <string>
#include <vector>

namespace dorvantel {

std::wstring QuoteArgument(const std::wstring& argument);
// The arguments, each quoted, separated by single spaces.
std::wstring JoinArguments(const std::vector<std::wstring>& arguments);

}  // namespace dorvantel
