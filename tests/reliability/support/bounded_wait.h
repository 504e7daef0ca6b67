#pragma once
// Every wait of the reliability suite has a bound and names itself when the bound expires.
//
// WaitFor polls a condition. Watchdog guards a call that might never return (Stop while a
// peer blocks, a release that joins a worker): if its scope is not left in time it prints
// which call hung and ends the process, since nothing can be cleaned up after a hang.

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "base/handles.h"

// Polls condition (pumping this thread's messages) until it holds or boundMs pass.
::testing::AssertionResult WaitFor(const std::string& what, DWORD boundMs, const std::function<bool()>& condition);

class Watchdog {
 public:
  Watchdog(std::string what, DWORD boundMs);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  static DWORD WINAPI Watch(void* self);

  std::string what_;
  DWORD boundMs_;
  EventHandle done_;
  ThreadHandle thread_;
};

// Runs action on a thread of its own (in the multithreaded apartment) and waits for it, with
// a watchdog; for the calls a test must make from another thread.
void RunOnOtherThread(const std::string& what, DWORD boundMs, const std::function<void()>& action);
