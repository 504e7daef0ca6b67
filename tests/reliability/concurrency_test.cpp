#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <string>

#include "tests/reliability/support/bounded_wait.h"
#include "tests/reliability/support/desktop_source.h"
#include "tests/reliability/support/downstream_double.h"
#include "tests/support/library.h"
#include "tests/support/test_window.h"

namespace {

constexpr DWORD kFramesBoundMs = 10000;
constexpr DWORD kCallBoundMs = 15000;

class ConcurrencyThreadedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.loaded());
    ASSERT_TRUE(source_.valid());
    ASSERT_TRUE(window_.WaitUntilShown());
  }
  void TearDown() override {
    {
      Watchdog watchdog("Stop at the end of the test", kCallBoundMs);
      downstream_.Stop();
      if (source_.filter()) {
        EXPECT_EQ(S_OK, source_.filter()->Stop());
      }
    }
    if (source_.pin()) source_.DisconnectFrom(&downstream_);
    source_.Release();
    EXPECT_EQ(S_OK, library_.CanUnloadNow()) << "the test left objects alive";
    EXPECT_EQ(1, downstream_.refs()) << "references to the downstream pin";
    for (const ReceivedSample& sample : downstream_.Received()) {
      EXPECT_TRUE(sample.stamped) << "a sample without time stamps reached the peer";
    }
  }

  ::testing::AssertionResult WaitForFrames(long count, const char* what) {
    return WaitFor(what, kFramesBoundMs, [&] { return downstream_.receivedCount() >= count; });
  }

  ComApartment com_;
  LoadedLibrary library_;
  TestWindow window_{RECT{200, 150, 328, 246}, RGB(10, 200, 30)};
  DownstreamPin downstream_;
  DesktopSource source_{library_};
};

// The window of the thread that stops the filter is being printed by the worker: Stop must
// not wait for the worker while the worker waits for that thread to answer.
TEST_F(ConcurrencyThreadedTest, StopWhileTheWorkerPrintsAWindowOfTheStoppingThread) {
  ASSERT_EQ(S_OK, source_.WriteLong(L"CaptureArea", 2));
  ASSERT_EQ(S_OK, source_.WriteLong(L"CaptureValue", static_cast<LONG>(reinterpret_cast<LONG_PTR>(window_.handle()))));
  ASSERT_EQ(S_OK, source_.ConnectTo(&downstream_, 0));
  for (int round = 0; round < 20; ++round) {
    ASSERT_EQ(S_OK, source_.filter()->Run(0));
    const long before = downstream_.receivedCount();
    ASSERT_TRUE(WaitForFrames(before + 2, "frames of the printed window"));
    Watchdog watchdog("Stop from the thread whose window is printed", kCallBoundMs);
    EXPECT_EQ(S_OK, source_.filter()->Stop());
  }
}

}  // namespace
