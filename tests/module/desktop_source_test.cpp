#include <gtest/gtest.h>

#include <windows.h>

#include "capture/desktop_source.h"
#include "framework/worker_thread.h"
#include "tests/support/live_objects.h"

namespace {

// The template's creation function, linked into the test: its construction failures, which
// the class factory turns into a discarded object and a failure code.
using CreateDesktopSourceTest = LiveObjectsTest;

int eventCalls = 0;
HANDLE ReplyEventFails(bool manualReset) {
  if (++eventCalls == 2) return nullptr;
  return ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr);
}

TEST_F(CreateDesktopSourceTest, AWorkerEventThatCannotBeMadeIsReportedAsOutOfMemory) {
  const CreateEventFn original = CreateWorkerEvent;
  CreateWorkerEvent = ReplyEventFails;
  HRESULT result = S_OK;
  CUnknown* filter = CreateDesktopSource(nullptr, &result);
  CreateWorkerEvent = original;
  ASSERT_NE(nullptr, filter);
  EXPECT_EQ(E_OUTOFMEMORY, result) << "the factory must discard this filter";
  delete filter;

  result = E_UNEXPECTED;
  filter = CreateDesktopSource(nullptr, &result);
  ASSERT_NE(nullptr, filter);
  EXPECT_EQ(S_OK, result);
  delete filter;
}

}  // namespace
