#pragma once
// GuardedBlock: bytes that end exactly where an inaccessible page begins, so that reading or
// writing even one byte past them faults at once instead of going unnoticed. Owns its pages
// (VirtualAlloc) and frees them when it dies.

#include <windows.h>

#include <cstddef>

class GuardedBlock {
 public:
  // size bytes, zero-filled. (A block of size + 1 used from data() + 1 gives an odd address
  // whose end still touches the guard page.)
  explicit GuardedBlock(size_t size);
  ~GuardedBlock();
  GuardedBlock(const GuardedBlock&) = delete;
  GuardedBlock& operator=(const GuardedBlock&) = delete;

  BYTE* data() const noexcept { return data_; }
  size_t size() const noexcept { return size_; }
  // The first byte of the guard page: an address that faults when touched.
  BYTE* end() const noexcept { return data_ + size_; }

 private:
  BYTE* base_ = nullptr;
  BYTE* data_ = nullptr;
  size_t size_ = 0;
};

// A wide string whose terminator is the last character before a guard page.
class GuardedString {
 public:
  explicit GuardedString(const wchar_t* text);
  const wchar_t* get() const noexcept { return reinterpret_cast<const wchar_t*>(block_.data()); }

 private:
  GuardedBlock block_;
};
