#pragma once
// SectionLock owns one re-entrant critical section; SectionLockHolder holds it for a scope.
// Lock order where two meet: the filter's state lock, then a worker's access lock.

#include <windows.h>

class SectionLock {
 public:
  SectionLock() noexcept { ::InitializeCriticalSection(&section_); }
  ~SectionLock() { ::DeleteCriticalSection(&section_); }
  SectionLock(const SectionLock&) = delete;
  SectionLock& operator=(const SectionLock&) = delete;

  void Enter() noexcept { ::EnterCriticalSection(&section_); }
  void Leave() noexcept { ::LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

class SectionLockHolder {
 public:
  explicit SectionLockHolder(SectionLock* lock) noexcept : lock_(lock) { lock_->Enter(); }
  ~SectionLockHolder() { lock_->Leave(); }
  SectionLockHolder(const SectionLockHolder&) = delete;
  SectionLockHolder& operator=(const SectionLockHolder&) = delete;

 private:
  SectionLock* lock_;
};
