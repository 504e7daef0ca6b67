#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <vector>
#include <string>

#include "hostkit/source_settings.h"
#include "tests/reliability/support/bounded_wait.h"
#include "tests/reliability/support/desktop_source.h"
#include "tests/reliability/support/downstream_double.h"
#include "tests/support/test_graph.h"
#include "tests/support/library.h"
#include "tests/support/test_window.h"

using namespace dorvantel;

namespace {

constexpr DWORD kFramesBoundMs = 10000;
constexpr DWORD kCallBoundMs = 15000;

class ConcurrencyThreadedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.loaded());
    ASSERT_TRUE(source_.valid());
    ASSERT_TRUE(window_.WaitUntilShown());
    // Paced, but frames come often enough for the races.
    ASSERT_EQ(S_OK, source_.WriteLong(L"FrameRate", 100));
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

// What a thread that hammers the filter needs: the filter, the window to capture, when to
// end, and how many calls it made.
struct Hammer {
  IBaseFilter* filter = nullptr;
  IPropertyBag* bag = nullptr;
  HWND window = nullptr;
  const RECT* rects = nullptr;  // two rectangles for the torn-rectangle writer
  std::atomic<bool> done{false};
  std::atomic<long> calls{0};
  unsigned seed = 1;
  // CaptureArea and the CaptureValue read by it are a pair: one thread writes them.
  bool switchesAreas = false;
};

// Writes every key, switching between all four areas, until told to end.
DWORD WINAPI WriteEveryKey(void* context) {
  auto* hammer = static_cast<Hammer*>(context);
  ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const SourceSettings settings(hammer->bag);
  const WindowRegion region = {hammer->window, 0, 0, 64, 48};
  unsigned n = hammer->seed;
  while (!hammer->done) {
    n = n * 1103515245 + 12345;
    const LONG area = static_cast<LONG>(n >> 16) % 4;
    const RECT rect = {static_cast<LONG>(n % 600), static_cast<LONG>(n % 400), static_cast<LONG>(n % 600) + 64,
                       static_cast<LONG>(n % 400) + 48};
    const LONG size[2] = {32 + static_cast<LONG>(n % 3) * 32, 24 + static_cast<LONG>(n % 3) * 24};
    settings.WriteLong(L"IncludeCursor", n & 1);
    settings.WriteLong(L"CaptureTransparentWindows", n & 2);
    settings.WriteLong(L"FrameRateMode", static_cast<LONG>(n % 3));
    settings.WriteLong(L"FrameRate", 1 + static_cast<LONG>(n % 60));
    settings.WriteLong(L"FramePacing", n & 4);
    if (hammer->switchesAreas) {
      settings.WriteLong(L"CaptureArea", area);
      if (area == 1) settings.WritePointer(L"CaptureValue", &rect);
      if (area == 2) settings.WriteLong(L"CaptureValue", static_cast<LONG>(reinterpret_cast<LONG_PTR>(hammer->window)));
      if (area == 3) settings.WritePointer(L"CaptureValue", &region);
    }
    settings.WritePointer(L"OutputDimensions", size);
    settings.WriteLong(L"InterpolationMode", static_cast<LONG>(n % 8));
    ++hammer->calls;
  }
  // Whatever rate the loop left, frames come soon after it, at the connected size (a frame
  // of another size is scaled into it). (Not written by the
  // test's own thread: the worker may be printing that thread's window while it holds the
  // settings.)
  settings.WriteLong(L"FrameRate", 100);
  const LONG connected[2] = {64, 48};
  settings.WritePointer(L"OutputDimensions", connected);
  ::CoUninitialize();
  return 0;
}

// Flips the captured rectangle between two of the same size.
DWORD WINAPI FlipRectangles(void* context) {
  auto* hammer = static_cast<Hammer*>(context);
  const SourceSettings settings(hammer->bag);
  for (long i = 0; !hammer->done; ++i) {
    settings.WritePointer(L"CaptureValue", &hammer->rects[i % 2]);
    ++hammer->calls;
  }
  return 0;
}

// Moves the filter between its states at random until told to end.
DWORD WINAPI ChangeStates(void* context) {
  auto* hammer = static_cast<Hammer*>(context);
  unsigned n = hammer->seed;
  while (!hammer->done) {
    n = n * 1103515245 + 12345;
    switch ((n >> 16) % 3) {
      case 0: hammer->filter->Pause(); break;
      case 1: hammer->filter->Run(0); break;
      default: hammer->filter->Stop(); break;
    }
    ++hammer->calls;
    ::Sleep(n % 3);
  }
  return 0;
}

// Starts one thread per hammer, lets them run for the given time, then ends and joins them.
void HammerFor(DWORD milliseconds, LPTHREAD_START_ROUTINE routine, Hammer* hammers, int count,
               const std::function<void()>& meanwhile = {}) {
  std::vector<ThreadHandle> threads;
  for (int i = 0; i < count; ++i) threads.emplace_back(::CreateThread(nullptr, 0, routine, &hammers[i], 0, nullptr));
  const ULONGLONG end = ::GetTickCount64() + milliseconds;
  while (::GetTickCount64() < end) {
    if (meanwhile) meanwhile();
    PumpMessagesFor(20);
  }
  for (int i = 0; i < count; ++i) hammers[i].done = true;
  Watchdog watchdog("the hammering threads to end", kCallBoundMs);
  for (ThreadHandle& thread : threads) {
    HANDLE handle = thread.get();
    while (::MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
      PumpMessages();
    }
  }
}

TEST_F(ConcurrencyThreadedTest, EveryKeyWrittenFromOtherThreadsWhileFramesStream) {
  ASSERT_EQ(S_OK, source_.CaptureScreenRect(RECT{0, 0, 64, 48}));
  ASSERT_EQ(S_OK, source_.ConnectTo(&downstream_, 0));
  ASSERT_EQ(S_OK, source_.filter()->Run(0));
  Hammer hammers[2];
  for (int i = 0; i < 2; ++i) {
    hammers[i].bag = source_.bag();
    hammers[i].window = window_.handle();
    hammers[i].seed = 17 + i;
    hammers[i].switchesAreas = i == 0;
  }
  HammerFor(1500, WriteEveryKey, hammers, 2);
  const long before = downstream_.receivedCount();
  EXPECT_GT(hammers[0].calls + hammers[1].calls, 10);
  EXPECT_TRUE(WaitForFrames(before + 3, "frames after the writers ended"));
}

TEST_F(ConcurrencyThreadedTest, StateChangesFromSeveralThreadsRaceWithStreaming) {
  ASSERT_EQ(S_OK, source_.CaptureScreenRect(RECT{0, 0, 64, 48}));
  ASSERT_EQ(S_OK, source_.ConnectTo(&downstream_, 0));
  Hammer hammers[3];
  for (int i = 0; i < 3; ++i) {
    hammers[i].filter = source_.filter();
    hammers[i].seed = 5 + i;
  }
  HammerFor(1500, ChangeStates, hammers, 3);
  {
    Watchdog watchdog("Stop after the state races", kCallBoundMs);
    EXPECT_EQ(S_OK, source_.filter()->Stop());
  }
  const long before = downstream_.receivedCount();
  ASSERT_EQ(S_OK, source_.filter()->Run(0));
  EXPECT_TRUE(WaitForFrames(before + 3, "frames after the races"));
}

TEST_F(ConcurrencyThreadedTest, RunningFilterReleasedFromAnotherThread) {
  ASSERT_EQ(S_OK, source_.CaptureScreenRect(RECT{0, 0, 64, 48}));
  ASSERT_EQ(S_OK, source_.ConnectTo(&downstream_, 0));
  ASSERT_EQ(S_OK, source_.filter()->Run(0));
  ASSERT_TRUE(WaitForFrames(3, "frames before the release"));
  // The host never stops it: the last release, on another thread, stops the worker.
  RunOnOtherThread("the last Release of a running filter on another thread", kCallBoundMs,
                   [&] { source_.Release(); });
  EXPECT_EQ(S_OK, library_.CanUnloadNow());
}

// Two rectangles of the same size over two colours, switched as fast as a thread can while
// frames stream: every frame shows one of them whole.
TEST(TornRectangleThreadedTest, FramesNeverMixTwoRectangles) {
  ComApartment com;
  LoadedLibrary library;
  ASSERT_TRUE(library.loaded());
  TestWindow window(RECT{300, 200, 428, 248}, RGB(0, 0, 0),
                    {{{0, 0, 64, 48}, RGB(255, 0, 0)}, {{64, 0, 128, 48}, RGB(0, 0, 255)}});
  ASSERT_TRUE(window.WaitUntilShown());
  const RECT rects[2] = {{300, 200, 364, 248}, {364, 200, 428, 248}};
  {
    TestGraph graph(library);
    ASSERT_EQ(S_OK, graph.WriteLong(L"CaptureArea", 1));
    ASSERT_EQ(S_OK, graph.WritePointer(L"CaptureValue", const_cast<RECT*>(&rects[0])));
    ASSERT_EQ(S_OK, graph.WriteBool(L"FramePacing", false));  // as many frames as the flips meet
    ASSERT_EQ(S_OK, graph.Connect(0));
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    ComPtr<IPropertyBag> bag;
    ComPtr<IBaseFilter>(graph.source()).query(&bag);
    Hammer hammer;
    hammer.bag = bag.get();
    hammer.rects = rects;
    HammerFor(1500, FlipRectangles, &hammer, 1);
    {
      Watchdog watchdog("Stop after the rectangle flips", kCallBoundMs);
      EXPECT_EQ(S_OK, graph.Stop());
    }
    const auto frames = graph.Frames();
    EXPECT_GT(frames.size(), 10u);
    int red = 0, blue = 0;
    for (const DeliveredFrame& frame : frames) {
      ASSERT_GE(frame.pixels.size(), 64u * 48 * 4);
      int redPixels = 0, bluePixels = 0;
      for (size_t p = 0; p < 64 * 48; ++p) {
        const BYTE* pixel = &frame.pixels[p * 4];  // blue, green, red
        if (pixel[2] == 255 && pixel[0] == 0) ++redPixels;
        if (pixel[0] == 255 && pixel[2] == 0) ++bluePixels;
      }
      EXPECT_TRUE(redPixels == 64 * 48 || bluePixels == 64 * 48) << "a torn frame: " << redPixels << " red, "
                                                                  << bluePixels << " blue pixels";
      red += redPixels == 64 * 48;
      blue += bluePixels == 64 * 48;
    }
    std::printf("[torn] %zu frames: %d of the red rectangle, %d of the blue, %ld switches\n", frames.size(), red,
                blue, static_cast<long>(hammer.calls));
  }
  EXPECT_EQ(S_OK, library.CanUnloadNow());
}

}  // namespace
