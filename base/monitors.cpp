#include "base/monitors.h"

#include <algorithm>
#include <cwchar>

namespace {

struct Collected {
  Monitor* monitors;
  size_t capacity;
  size_t count;
};

BOOL CALLBACK CollectMonitor(HMONITOR handle, HDC, LPRECT, LPARAM data) {
  auto* collected = reinterpret_cast<Collected*>(data);
  if (collected->count == collected->capacity) return FALSE;
  MONITORINFOEXW info = {};
  info.cbSize = sizeof(info);
  if (!::GetMonitorInfoW(handle, &info)) return TRUE;
  Monitor& monitor = collected->monitors[collected->count++];
  monitor = Monitor{};
  monitor.rect = info.rcMonitor;
  monitor.primary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0;
  std::wcsncpy(monitor.device, info.szDevice, CCHDEVICENAME - 1);
  return TRUE;
}

// Numbering order: the primary, then left to right, then top to bottom; the name settles
// monitors that share a corner (mirrored ones).
bool NumberedBefore(const Monitor& a, const Monitor& b) noexcept {
  if (a.primary != b.primary) return a.primary;
  if (a.rect.left != b.rect.left) return a.rect.left < b.rect.left;
  if (a.rect.top != b.rect.top) return a.rect.top < b.rect.top;
  return std::wcscmp(a.device, b.device) < 0;
}

}  // namespace

bool MonitorLayout::Read() noexcept {
  Collected collected{monitors_, kMaxMonitors, 0};
  if (!::EnumDisplayMonitors(nullptr, nullptr, &CollectMonitor, reinterpret_cast<LPARAM>(&collected))) {
    collected.count = std::min(collected.count, kMaxMonitors);
  }
  count_ = collected.count;
  // One primary: the platform's, else the monitor at the screen's origin, else the first.
  Monitor* const last = monitors_ + count_;
  if (count_ > 0 && std::none_of(monitors_, last, [](const Monitor& m) { return m.primary; })) {
    Monitor* origin = std::find_if(monitors_, last, [](const Monitor& m) {
      const POINT zero = {0, 0};
      return ::PtInRect(&m.rect, zero) != FALSE;
    });
    (origin != last ? origin : monitors_)->primary = true;
  }
  bool primarySeen = false;
  for (Monitor* m = monitors_; m != last; ++m) {
    if (m->primary && primarySeen) m->primary = false;
    primarySeen = primarySeen || m->primary;
  }
  std::sort(monitors_, last, NumberedBefore);
  for (size_t i = 0; i < count_; ++i) monitors_[i].number = static_cast<int>(i + 1);
  return count_ > 0;
}

const Monitor* MonitorLayout::Find(LONG number) const noexcept {
  if (number < 1 || static_cast<size_t>(number) > count_) return nullptr;
  return &monitors_[number - 1];
}

RECT MonitorLayout::Bounds() const noexcept {
  RECT bounds = {};
  for (const Monitor& monitor : *this) ::UnionRect(&bounds, &bounds, &monitor.rect);
  return bounds;
}

bool MonitorLayout::SameAs(const MonitorLayout& other) const noexcept {
  return count_ == other.count_ && std::equal(begin(), end(), other.begin(), [](const Monitor& a, const Monitor& b) {
           return ::EqualRect(&a.rect, &b.rect) && a.primary == b.primary && std::wcscmp(a.device, b.device) == 0;
         });
}

std::wstring DescribeMonitor(const Monitor& monitor) {
  const RECT& r = monitor.rect;
  std::wstring text = std::to_wstring(monitor.number) + L": " + std::to_wstring(r.right - r.left) + L"x" +
                      std::to_wstring(r.bottom - r.top) + L" at " + std::to_wstring(r.left) + L"," +
                      std::to_wstring(r.top) + L" (" + monitor.device;
  if (monitor.primary) text += L", primary";
  return text + L")";
}
