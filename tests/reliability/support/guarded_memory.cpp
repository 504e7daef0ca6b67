#include "tests/reliability/support/guarded_memory.h"

#include <cstring>
#include <cwchar>

namespace {

size_t PageSize() {
  SYSTEM_INFO info = {};
  ::GetSystemInfo(&info);
  return info.dwPageSize;
}

}  // namespace

GuardedBlock::GuardedBlock(size_t size) : size_(size) {
  const size_t page = PageSize();
  const size_t dataPages = size == 0 ? 1 : (size + page - 1) / page;
  const size_t total = (dataPages + 1) * page;
  base_ = static_cast<BYTE*>(::VirtualAlloc(nullptr, total, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  if (!base_) return;
  BYTE* guard = base_ + dataPages * page;
  DWORD previous = 0;
  ::VirtualProtect(guard, page, PAGE_NOACCESS, &previous);
  data_ = guard - size;
  std::memset(base_, 0, dataPages * page);
}

GuardedBlock::~GuardedBlock() {
  if (base_) ::VirtualFree(base_, 0, MEM_RELEASE);
}

GuardedString::GuardedString(const wchar_t* text) : block_((std::wcslen(text) + 1) * sizeof(wchar_t)) {
  if (block_.data()) std::memcpy(block_.data(), text, block_.size());
}
