#include "tests/reliability/support/bounded_wait.h"

#include <objbase.h>

#include <cstdio>

::testing::AssertionResult WaitFor(const std::string& what, DWORD boundMs, const std::function<bool()>& condition) {
  const ULONGLONG deadline = ::GetTickCount64() + boundMs;
  for (;;) {
    if (condition()) return ::testing::AssertionSuccess();
    if (::GetTickCount64() > deadline) {
      return ::testing::AssertionFailure() << "bound expired: " << what << " (after " << boundMs << " ms)";
    }
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    ::Sleep(2);
  }
}

Watchdog::Watchdog(std::string what, DWORD boundMs)
    : what_(std::move(what)), boundMs_(boundMs), done_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  thread_.reset(::CreateThread(nullptr, 0, &Watchdog::Watch, this, 0, nullptr));
}

Watchdog::~Watchdog() {
  ::SetEvent(done_.get());
  if (thread_) ::WaitForSingleObject(thread_.get(), INFINITE);
}

DWORD WINAPI Watchdog::Watch(void* self) {
  auto* watchdog = static_cast<Watchdog*>(self);
  if (::WaitForSingleObject(watchdog->done_.get(), watchdog->boundMs_) == WAIT_OBJECT_0) return 0;
  std::fprintf(stderr, "\nbound expired: %s did not return within %lu ms; ending the test program\n",
               watchdog->what_.c_str(), static_cast<unsigned long>(watchdog->boundMs_));
  std::fflush(stderr);
  std::fflush(stdout);
  ::TerminateProcess(::GetCurrentProcess(), 3);
  return 1;
}

namespace {

struct OtherThreadCall {
  const std::function<void()>* action;
};

DWORD WINAPI RunCall(void* argument) {
  ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  (*static_cast<OtherThreadCall*>(argument)->action)();
  ::CoUninitialize();
  return 0;
}

}  // namespace

void RunOnOtherThread(const std::string& what, DWORD boundMs, const std::function<void()>& action) {
  Watchdog watchdog(what, boundMs);
  OtherThreadCall call{&action};
  ThreadHandle thread(::CreateThread(nullptr, 0, RunCall, &call, 0, nullptr));
  ASSERT_TRUE(thread) << "no thread for " << what;
  ::WaitForSingleObject(thread.get(), INFINITE);
}
