#pragma once
// What the process holds of the platform's resources, to compare before and after a long run.
// Wine answers GetGuiResources and GetProcessHandleCount with 0, so both counts are taken by
// other means there (see resource_counts.cpp); a count that cannot be taken is -1.

#include <windows.h>

#include <string>
#include <vector>

struct ResourceCounts {
  long gdiObjects = -1;
  long handles = -1;
  long long privateBytes = -1;
  // The handle values themselves, to name what a growing count holds.
  std::vector<ULONG_PTR> openHandles;
};

ResourceCounts MeasureResources();
std::string Describe(const ResourceCounts& counts);

// The values of the process's open kernel handles, in order.
std::vector<ULONG_PTR> OpenHandles();
// The handles open in after but not in before, with their object types ("Event", "Thread").
std::string DescribeNewHandles(const std::vector<ULONG_PTR>& before, const std::vector<ULONG_PTR>& after);
