#pragma once
// The monitors of the desktop, numbered one way for the filter and every program: 1 is the
// primary monitor, then the others by their left edge, then by their top edge (left to right,
// then top to bottom). A number stays with its monitor while the layout does not change.
// Rectangles are screen coordinates: the primary's corner is 0,0, so a monitor left of it or
// above it has negative coordinates.

#include <windows.h>

#include <cstddef>
#include <string>

struct Monitor {
  int number = 0;
  RECT rect{};
  bool primary = false;
  wchar_t device[CCHDEVICENAME] = {};  // the platform's name, such as \\.\DISPLAY2
};

// The layout at one moment. Fixed capacity and no allocation, so a grab can read it.
class MonitorLayout {
 public:
  static constexpr size_t kMaxMonitors = 32;

  // Reads the layout now; false (and no monitor) when the platform lists none.
  bool Read() noexcept;

  size_t Count() const noexcept { return count_; }
  const Monitor* begin() const noexcept { return monitors_; }
  const Monitor* end() const noexcept { return monitors_ + count_; }
  // The monitor of that number, or null.
  const Monitor* Find(LONG number) const noexcept;
  // The smallest rectangle holding every monitor: the whole virtual desktop. Empty without
  // monitors.
  RECT Bounds() const noexcept;

  bool SameAs(const MonitorLayout& other) const noexcept;

 private:
  Monitor monitors_[kMaxMonitors];
  size_t count_ = 0;
};

// One line for people: "2: 800x600 at -800,0 (\\.\DISPLAY2)", the primary's with ", primary".
std::wstring DescribeMonitor(const Monitor& monitor);
