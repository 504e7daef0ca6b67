#include "hostkit/monitor_list.h"

#include "base/monitors.h"

namespace dorvantel {

std::wstring MonitorListText() {
  MonitorLayout layout;
  if (!layout.Read()) return L"the platform lists no monitor\n";
  std::wstring text;
  for (const Monitor& monitor : layout) text += DescribeMonitor(monitor) + L"\n";
  return text;
}

std::wstring MissingMonitor(const Preset& preset) {
  if (preset.target != CaptureTarget::Monitor || !preset.monitor) return {};
  MonitorLayout layout;
  layout.Read();
  if (layout.Find(*preset.monitor)) return {};
  const size_t count = layout.Count();
  const std::wstring has = count == 0   ? std::wstring(L"the platform lists no monitor")
                           : count == 1 ? std::wstring(L"the desktop has monitor 1 only")
                                        : L"the desktop has monitors 1 to " + std::to_wstring(count);
  return L"there is no monitor " + std::to_wstring(*preset.monitor) + L": " + has;
}

}  // namespace dorvantel
