#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include "tests/reliability/support/bounded_wait.h"
#include "tests/reliability/support/desktop_source.h"
#include "tests/reliability/support/downstream_double.h"
#include "tests/support/library.h"

using namespace dorvantel;

namespace {

constexpr DWORD kFramesBoundMs = 10000;
constexpr DWORD kCallBoundMs = 15000;

// The peer's filter being stopped by the graph a little later.
DWORD WINAPI StopPeerLater(void* pin) {
  ::Sleep(300);
  static_cast<DownstreamPin*>(pin)->Stop();
  return 0;
}

// The filter joined to a recording graph double and connected (RGB32, a small rectangle of
// the screen) to a downstream pin that plays the faults.
class DownstreamFaultsThreadedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.loaded());
    ASSERT_TRUE(downstream_.allocator().valid());
    ASSERT_TRUE(source_.valid());
    ASSERT_EQ(S_OK, source_.filter()->JoinFilterGraph(&graph_, L"Dorvantel"));
    ASSERT_EQ(S_OK, source_.CaptureScreenRect(RECT{100, 100, 164, 148}));
    // Paced, but frames come often enough for the faults.
    ASSERT_EQ(S_OK, source_.WriteLong(L"FrameRate", 100));
    ASSERT_EQ(S_OK, source_.ConnectTo(&downstream_, 0));
  }

  void TearDown() override {
    {
      Watchdog watchdog("Stop at the end of the test", kCallBoundMs);
      downstream_.Stop();
      EXPECT_EQ(S_OK, source_.filter()->Stop());
    }
    EXPECT_EQ(S_OK, source_.DisconnectFrom(&downstream_));
    EXPECT_EQ(S_OK, source_.filter()->JoinFilterGraph(nullptr, nullptr));
    {
      Watchdog watchdog("the filter's last Release", kCallBoundMs);
      source_.Release();
    }
    downstream_.ReleaseHeldSamples();
    EXPECT_EQ(S_OK, library_.CanUnloadNow()) << "the test left objects alive";
    EXPECT_EQ(1, downstream_.refs()) << "references to the downstream pin";
    EXPECT_EQ(1, downstream_.allocator().refs()) << "references to the allocator";
    EXPECT_EQ(1, graph_.refs()) << "references to the graph";
    EXPECT_FALSE(downstream_.blockExpired()) << "a blocked Receive was never released";
    for (const ReceivedSample& sample : downstream_.Received()) {
      EXPECT_TRUE(sample.stamped) << "a sample without time stamps reached the peer";
      EXPECT_TRUE(sample.syncPoint);
      EXPECT_EQ(0u, sample.poisonedWords) << "a sample the pin did not fill reached the peer";
    }
  }

  ::testing::AssertionResult WaitForFrames(long count, const char* what) {
    return WaitFor(what, kFramesBoundMs, [&] { return downstream_.receivedCount() >= count; });
  }

  // The worker has stopped asking for buffers: it went idle.
  ::testing::AssertionResult WaitUntilIdle(const char* what) {
    return WaitFor(what, kFramesBoundMs, [&] {
      const long calls = downstream_.allocator().getBufferCalls();
      ::Sleep(50);
      return downstream_.insideReceive() == 0 && downstream_.allocator().getBufferCalls() == calls;
    });
  }

  HRESULT StopWithin(const char* what) {
    Watchdog watchdog(what, kCallBoundMs);
    return source_.filter()->Stop();
  }

  // Stop, then Run again with a well-behaved peer: frames flow once more.
  void ExpectRunsAgain() {
    EXPECT_EQ(S_OK, StopWithin("Stop before running again"));
    downstream_.RefuseAfter(-1, S_OK);
    downstream_.BlockInReceive(false);
    downstream_.HoldSamples(false);
    downstream_.ReleaseHeldSamples();
    downstream_.Start();
    const long before = downstream_.receivedCount();
    ASSERT_EQ(S_OK, source_.filter()->Run(0));
    EXPECT_TRUE(WaitForFrames(before + 5, "frames after running again"));
  }

  ComApartment com_;
  LoadedLibrary library_;
  DownstreamPin downstream_;
  EventSinkGraph graph_;
  DesktopSource source_{library_};
};

TEST_F(DownstreamFaultsThreadedTest, ReceiveFailingMidStreamEndsStreamingQuietly) {
  downstream_.RefuseAfter(5, E_FAIL);
  ASSERT_EQ(S_OK, source_.filter()->Run(0));
  EXPECT_TRUE(WaitForFrames(5, "five frames before Receive fails"));
  EXPECT_TRUE(WaitUntilIdle("the worker to go idle after the refusal"));
  EXPECT_EQ(5, downstream_.receivedCount());
  // A refusal downstream is the peer's to report: no end-of-stream, no event.
  EXPECT_EQ(0, downstream_.endOfStreams());
  EXPECT_TRUE(graph_.Events().empty());
  ExpectRunsAgain();
}

TEST_F(DownstreamFaultsThreadedTest, ReceiveAnsweringSFalseEndsStreamingQuietly) {
  downstream_.RefuseAfter(3, S_FALSE);
  ASSERT_EQ(S_OK, source_.filter()->Run(0));
  EXPECT_TRUE(WaitForFrames(3, "three frames before Receive answers S_FALSE"));
  EXPECT_TRUE(WaitUntilIdle("the worker to go idle after S_FALSE"));
  EXPECT_EQ(3, downstream_.receivedCount());
  EXPECT_EQ(0, downstream_.endOfStreams());
  EXPECT_TRUE(graph_.Events().empty());
  ExpectRunsAgain();
}

TEST_F(DownstreamFaultsThreadedTest, GetBufferFailingForAWhileDelaysFramesOnly) {
  downstream_.allocator().FailNextGetBuffers(200);
  ASSERT_EQ(S_OK, source_.filter()->Run(0));
  EXPECT_TRUE(WaitForFrames(10, "frames once GetBuffer succeeds again"));
  EXPECT_EQ(200, downstream_.allocator().failedGetBuffers());
  EXPECT_EQ(0, downstream_.endOfStreams());
  EXPECT_TRUE(graph_.Events().empty());
  ExpectRunsAgain();
}

TEST_F(DownstreamFaultsThreadedTest, StopReleasesAWorkerWaitingInGetBuffer) {
  // The allocator has two buffers; the peer keeps both, so the next GetBuffer waits.
  downstream_.HoldSamples(true);
  ASSERT_EQ(S_OK, source_.filter()->Run(0));
  EXPECT_TRUE(WaitForFrames(2, "the two frames the peer keeps"));
  EXPECT_TRUE(WaitFor("the worker to wait in GetBuffer", kFramesBoundMs,
                      [&] { return downstream_.allocator().waitingInGetBuffer() == 1; }));
  EXPECT_EQ(S_OK, StopWithin("Stop while the worker waits in GetBuffer"));
  EXPECT_EQ(0, downstream_.allocator().waitingInGetBuffer());
  ExpectRunsAgain();
}

TEST_F(DownstreamFaultsThreadedTest, AllocatorDecommittedUnderTheRunningWorker) {
  downstream_.HoldSamples(true);
  ASSERT_EQ(S_OK, source_.filter()->Run(0));
  // The waiting count also rises inside the first GetBuffers, which do not wait: only once
  // the peer holds both buffers is the worker's next GetBuffer sure to be waiting.
  EXPECT_TRUE(WaitForFrames(2, "the two frames the peer keeps"));
  EXPECT_TRUE(WaitFor("the worker to wait in GetBuffer", kFramesBoundMs,
                      [&] { return downstream_.allocator().waitingInGetBuffer() == 1; }));
  // The peer decommits its allocator on its own: the worker keeps retrying until stopped.
  EXPECT_EQ(S_OK, downstream_.allocator().Decommit());
  EXPECT_TRUE(WaitFor("GetBuffer to fail after the decommit", kFramesBoundMs,
                      [&] { return downstream_.allocator().getBufferCalls() > 10; }));
  EXPECT_EQ(2, downstream_.receivedCount());
  EXPECT_TRUE(graph_.Events().empty());
  ExpectRunsAgain();
}

TEST_F(DownstreamFaultsThreadedTest, StopWaitsForAReceiveThatBlocksUntilThePeerStops) {
  downstream_.BlockInReceive(true);
  ASSERT_EQ(S_OK, source_.filter()->Run(0));
  EXPECT_TRUE(WaitFor("the worker to block in Receive", kFramesBoundMs, [&] { return downstream_.insideReceive() == 1; }));
  // The graph stops the peer while the filter's own Stop waits for the worker.
  HRESULT stopped = E_FAIL;
  RunOnOtherThread("Stop while Receive blocks", kCallBoundMs, [&] {
    ThreadHandle peerStop(::CreateThread(nullptr, 0, StopPeerLater, &downstream_, 0, nullptr));
    stopped = source_.filter()->Stop();
    ::WaitForSingleObject(peerStop.get(), INFINITE);
  });
  EXPECT_EQ(S_OK, stopped);
  EXPECT_EQ(0, downstream_.insideReceive());
  ExpectRunsAgain();
}

TEST_F(DownstreamFaultsThreadedTest, PeerStoppedFirstLetsTheFilterStop) {
  downstream_.BlockInReceive(true);
  ASSERT_EQ(S_OK, source_.filter()->Run(0));
  EXPECT_TRUE(WaitFor("the worker to block in Receive", kFramesBoundMs, [&] { return downstream_.insideReceive() == 1; }));
  downstream_.Stop();
  EXPECT_EQ(S_OK, StopWithin("Stop after the peer stopped"));
  ExpectRunsAgain();
}

TEST_F(DownstreamFaultsThreadedTest, BuffersSmallerThanGrantedEndTheStreamWithAnError) {
  ASSERT_EQ(S_OK, source_.DisconnectFrom(&downstream_));
  downstream_.allocator().ShrinkBuffersBy(4);
  ASSERT_EQ(S_OK, source_.ConnectTo(&downstream_, 0));
  for (int run = 1; run <= 2; ++run) {
    ASSERT_EQ(S_OK, source_.filter()->Run(0));
    EXPECT_TRUE(WaitFor("the error event", kFramesBoundMs, [&] { return graph_.Events().size() == static_cast<size_t>(run); }));
    EXPECT_TRUE(WaitUntilIdle("the worker to go idle after the error"));
    EXPECT_EQ(S_OK, StopWithin("Stop after the error"));
  }
  EXPECT_EQ(0, downstream_.receivedCount()) << "a sample too small for a frame was delivered";
  EXPECT_EQ(2, downstream_.endOfStreams());
  for (const auto& event : graph_.Events()) {
    EXPECT_EQ(EC_ERRORABORT, event.first);
    EXPECT_TRUE(FAILED(static_cast<HRESULT>(event.second)));
  }
  // An honest allocator again: the same filter streams.
  ASSERT_EQ(S_OK, source_.DisconnectFrom(&downstream_));
  downstream_.allocator().ShrinkBuffersBy(0);
  ASSERT_EQ(S_OK, source_.ConnectTo(&downstream_, 0));
  ExpectRunsAgain();
}

// A recording paused in the middle: while paused the peer gets nothing the pin did not grab
// and stamp (the fixture checks every sample), and with tick stamps the paused second leaves
// no gap. (A frame whose grab began as Pause was called may overlap the next by the length
// of a grab: the pause is measured from the call, not from the last grab.)
TEST_F(DownstreamFaultsThreadedTest, PauseInTheMiddleDeliversOnlyGrabbedAndStampedFrames) {
  ASSERT_EQ(S_OK, source_.WriteLong(L"FrameRateMode", 2));
  ASSERT_EQ(S_OK, source_.filter()->Run(0));
  EXPECT_TRUE(WaitForFrames(10, "frames before the pause"));
  ASSERT_EQ(S_OK, source_.filter()->Pause());
  ::Sleep(1000);
  const long duringPause = downstream_.receivedCount();
  ::Sleep(200);
  EXPECT_LE(downstream_.receivedCount(), duringPause + 1) << "frames kept coming while paused";
  ASSERT_EQ(S_OK, source_.filter()->Run(0));
  EXPECT_TRUE(WaitForFrames(duringPause + 10, "frames after the pause"));
  EXPECT_EQ(S_OK, StopWithin("Stop after the paused recording"));
  const auto samples = downstream_.Received();
  for (size_t i = 1; i < samples.size(); ++i) {
    EXPECT_GE(samples[i].start, samples[i - 1].start - 1000000) << "sample " << i;
    // The paused second is taken out: no gap of anything like it between two frames.
    EXPECT_LT(samples[i].start - samples[i - 1].end, 5000000) << "sample " << i;
  }
}

}  // namespace

namespace {

// The same fault with Wine's filter graph manager as the event sink: the error reaches the
// application through IMediaEvent, and stopping the graph afterwards does not hang.
TEST(DownstreamFaultsInGraphThreadedTest, FillErrorReachesTheApplicationThroughWinesGraph) {
  ComApartment com;
  LoadedLibrary library;
  ASSERT_TRUE(library.loaded());
  DownstreamPin downstream;
  {
    DesktopSource source(library);
    ASSERT_TRUE(source.valid());
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                       graph.put_void()));
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    ASSERT_EQ(S_OK, graph.query(&control));
    ASSERT_EQ(S_OK, graph->QueryInterface(IID_IMediaEvent, events.put_void()));
    ASSERT_EQ(S_OK, graph->AddFilter(source.filter(), L"Dorvantel"));
    ASSERT_EQ(S_OK, source.CaptureScreenRect(RECT{0, 0, 64, 48}));
    downstream.allocator().ShrinkBuffersBy(4);
    ASSERT_EQ(S_OK, source.ConnectTo(&downstream, 0));
    {
      Watchdog watchdog("Run, the error event and Stop through Wine's graph", kCallBoundMs);
      ASSERT_TRUE(SUCCEEDED(control->Run()));
      long code = 0;
      LONG_PTR param1 = 0, param2 = 0;
      HRESULT got = E_ABORT;
      const ULONGLONG deadline = ::GetTickCount64() + kFramesBoundMs;
      while (::GetTickCount64() < deadline) {
        got = events->GetEvent(&code, &param1, &param2, 100);
        if (got == S_OK) {
          events->FreeEventParams(code, param1, param2);
          if (code == EC_ERRORABORT) break;
        }
      }
      EXPECT_EQ(S_OK, got) << "bound expired: the EC_ERRORABORT event";
      EXPECT_EQ(EC_ERRORABORT, code);
      EXPECT_EQ(S_OK, control->Stop());
    }
    EXPECT_EQ(S_OK, source.DisconnectFrom(&downstream));
    EXPECT_EQ(S_OK, graph->RemoveFilter(source.filter()));
  }
  EXPECT_EQ(1, downstream.endOfStreams());
  EXPECT_EQ(0, downstream.receivedCount());
  EXPECT_EQ(S_OK, library.CanUnloadNow());
}

}  // namespace
