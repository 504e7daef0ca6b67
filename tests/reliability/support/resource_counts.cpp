#include "tests/reliability/support/resource_counts.h"

#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>

namespace {

// Handle values are multiples of 4; no test process gets anywhere near this many.
constexpr ULONG_PTR kHandleProbeLimit = 0x8000;

long CountKernelHandles() {
  DWORD reported = 0;
  if (::GetProcessHandleCount(::GetCurrentProcess(), &reported) && reported != 0) return static_cast<long>(reported);
  return static_cast<long>(OpenHandles().size());
}

// The object type's name of a handle, as NtQueryObject tells it.
std::string HandleType(ULONG_PTR value) {
  using QueryFn = NTSTATUS(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);
  static const auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
  alignas(8) BYTE buffer[512] = {};
  if (!query || query(reinterpret_cast<HANDLE>(value), ObjectTypeInformation, buffer, sizeof(buffer), nullptr) != 0) {
    return "?";
  }
  const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer);
  std::string text;
  for (USHORT i = 0; name->Buffer && i < name->Length / sizeof(WCHAR); ++i) text += static_cast<char>(name->Buffer[i]);
  return text;
}

const BYTE* ProcessEnvironmentBlock() {
  using QueryFn = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  PROCESS_BASIC_INFORMATION information = {};
  if (!query || query(::GetCurrentProcess(), ProcessBasicInformation, &information, sizeof(information), nullptr) != 0) {
    return nullptr;
  }
  return reinterpret_cast<const BYTE*>(information.PebBaseAddress);
}

// The process's GDI handle table, as the PEB publishes it (GdiSharedHandleTable). Entries
// are 24 bytes: the object's address, its owner, then the handle's upper word ("unique") and
// its type; a used entry has a non-zero type. The layout is checked against an object made
// here before the table is trusted.
class GdiHandleTable {
 public:
  GdiHandleTable() {
    const BYTE* peb = ProcessEnvironmentBlock();
    if (!peb) return;
#ifdef _WIN64
    constexpr size_t kTableField = 0xF8;
#else
    constexpr size_t kTableField = 0x94;
#endif
    table_ = *reinterpret_cast<const BYTE* const*>(peb + kTableField);
    if (table_ && !LayoutMatches()) table_ = nullptr;
  }

  long Count() const {
    if (!table_) return -1;
    long count = 0;
    for (size_t i = 0; i < kEntries; ++i) {
      if (table_[i * kEntrySize + kTypeOffset] != 0) ++count;
    }
    return count;
  }

 private:
  static constexpr size_t kEntries = 0x10000;
  static constexpr size_t kEntrySize = 24;
  static constexpr size_t kUniqueOffset = 12;
  static constexpr size_t kTypeOffset = 14;

  bool LayoutMatches() const {
    HBRUSH probe = ::CreateSolidBrush(RGB(1, 2, 3));
    if (!probe) return false;
    const ULONG_PTR value = reinterpret_cast<ULONG_PTR>(probe);
    const BYTE* entry = table_ + (value & 0xFFFF) * kEntrySize;
    const WORD unique = *reinterpret_cast<const WORD*>(entry + kUniqueOffset);
    const bool used = entry[kTypeOffset] != 0;
    ::DeleteObject(probe);
    const bool freed = entry[kTypeOffset] == 0;
    return used && freed && unique == static_cast<WORD>(value >> 16);
  }

  const BYTE* table_ = nullptr;
};

long CountGdiObjects() {
  const DWORD reported = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
  if (reported != 0) return static_cast<long>(reported);
  return GdiHandleTable().Count();
}

long long PrivateBytes() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters))) return -1;
  return static_cast<long long>(counters.PagefileUsage);
}

}  // namespace

ResourceCounts MeasureResources() {
  ResourceCounts counts;
  counts.gdiObjects = CountGdiObjects();
  counts.openHandles = OpenHandles();
  counts.handles = CountKernelHandles();
  counts.privateBytes = PrivateBytes();
  return counts;
}

std::vector<ULONG_PTR> OpenHandles() {
  std::vector<ULONG_PTR> handles;
  for (ULONG_PTR value = 4; value < kHandleProbeLimit; value += 4) {
    DWORD flags = 0;
    if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) handles.push_back(value);
  }
  return handles;
}

std::string DescribeNewHandles(const std::vector<ULONG_PTR>& before, const std::vector<ULONG_PTR>& after) {
  std::string text;
  for (ULONG_PTR value : after) {
    if (std::find(before.begin(), before.end(), value) != before.end()) continue;
    char entry[64];
    std::snprintf(entry, sizeof(entry), "%s%#llx %s", text.empty() ? "" : ", ", static_cast<unsigned long long>(value),
                  HandleType(value).c_str());
    text += entry;
  }
  return text.empty() ? "none" : text;
}

std::string Describe(const ResourceCounts& counts) {
  char text[128];
  std::snprintf(text, sizeof(text), "GDI objects %ld, handles %ld, private bytes %lld", counts.gdiObjects,
                counts.handles, counts.privateBytes);
  return text;
}
