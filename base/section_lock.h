#pragma once
// SectionLock owns one re-entrant critical section; SectionLockHolder holds it for a scope.
// Lock order where two meet: the filter's state lock, then a worker's access lock.

#include <windows.h>

class SectionLock {
 public:
  // What a thread does while it waits for the section that another thread holds.
  enum class Waiting {
    Blocked,
    // Answers messages sent to the waiting thread's windows, for a lock whose holder may
    // send to them (the worker printing a window holds the capture lock); polls the
    // section every millisecond while it is held elsewhere.
    AnsweringSentMessages,
  };

  explicit SectionLock(Waiting waiting = Waiting::Blocked) noexcept : waiting_(waiting) {
    ::InitializeCriticalSection(&section_);
  }
  ~SectionLock() { ::DeleteCriticalSection(&section_); }
  SectionLock(const SectionLock&) = delete;
  SectionLock& operator=(const SectionLock&) = delete;

  void Enter() noexcept {
    if (waiting_ == Waiting::Blocked) {
      ::EnterCriticalSection(&section_);
      return;
    }
    while (!::TryEnterCriticalSection(&section_)) {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_SENDMESSAGE);
      MSG message;
      ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
  }
  void Leave() noexcept { ::LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
  const Waiting waiting_;
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
