#pragma once
// The monitors as the tools show them: numbered as the filter numbers them (base/monitors.h),
// one line each, and the one line a tool says when a preset names a monitor that is not there.

#include <string>

#include "preset/preset.h"

namespace dorvantel {

// "1: 1024x768 at 0,0 (\\.\DISPLAY1, primary)" and a line for each other monitor, each ending
// in a line break; one line that says so when the platform lists no monitor.
std::wstring MonitorListText();

// Empty unless the preset captures a monitor that the desktop does not have now; then one line
// without a line break, such as "there is no monitor 4: the desktop has monitors 1 to 3".
std::wstring MissingMonitor(const Preset& preset);

}  // namespace dorvantel
