#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <memory>

#include "format/media_type.h"
#include "tests/module/module_test.h"
#include "tests/support/stream_peer.h"

namespace {

// The library's filter connected straight to a StreamPeer, which, unlike a renderer, takes
// every sample at once in any state and shows exactly what the pin delivers.
class LiveSourceThreadedTest : public ModuleThreadedTest {
 protected:
  void SetUp() override {
    ModuleThreadedTest::SetUp();
    peer_ = std::make_unique<StreamPeer>();
    ASSERT_EQ(S_OK, Connected(peer_.get(), &filter_));
  }
  void TearDown() override {
    if (filter_) {
      filter_->Stop();
      OutputPin(filter_.get())->Disconnect();
      filter_.reset();
    }
    EXPECT_EQ(1, peer_->References()) << "the pin gave back every reference to its peer";
    peer_.reset();
    ModuleThreadedTest::TearDown();
  }

  // A new filter grabbing a small screen rectangle, its pin connected to peer.
  HRESULT Connected(StreamPeer* peer, ComPtr<IBaseFilter>* filter) {
    HRESULT hr = library_.CreateFilter(filter);
    if (FAILED(hr)) return hr;
    RECT small = {0, 0, 64, 48};
    WriteProperty(filter->get(), L"CaptureArea", 1);
    WriteProperty(filter->get(), L"CaptureValue", &small);
    return OutputPin(filter->get())->Connect(peer, nullptr);
  }

  std::unique_ptr<StreamPeer> peer_;
  ComPtr<IBaseFilter> filter_;
};

TEST_F(LiveSourceThreadedTest, NothingButThePausedFrameIsDeliveredWhilePaused) {
  ASSERT_EQ(S_OK, filter_->Pause());
  ASSERT_TRUE(peer_->WaitForReceived(1));
  Sleep(200);
  EXPECT_EQ(1u, peer_->ReceivedCount()) << "one frame while paused, in the pin's whole life";

  ASSERT_EQ(S_OK, filter_->Run(0));
  ASSERT_TRUE(peer_->WaitForReceived(5));
  ASSERT_EQ(S_OK, filter_->Pause());
  Sleep(50);  // a frame under way when the pause came may still arrive
  const size_t atPause = peer_->ReceivedCount();
  Sleep(200);
  EXPECT_EQ(atPause, peer_->ReceivedCount()) << "nothing while paused again";

  const ULONGLONG stopAt = GetTickCount64();
  EXPECT_EQ(S_OK, filter_->Stop());
  EXPECT_LT(GetTickCount64() - stopAt, 500u) << "a waiting worker still stops promptly";
  for (const StreamPeer::Sample& sample : peer_->Received()) {
    EXPECT_TRUE(sample.hasTime) << "every delivered sample was filled and stamped";
  }
}

// Events the graph has received so far, and then until one with this code arrives.
bool WaitForGraphEvent(IGraphBuilder* graph, long wanted, LONG_PTR* param1, DWORD timeoutMs = 10000) {
  ComPtr<IMediaEvent> events;
  if (FAILED(graph->QueryInterface(IID_IMediaEvent, events.put_void()))) return false;
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  do {
    long code;
    LONG_PTR p1, p2;
    while (events->GetEvent(&code, &p1, &p2, 10) == S_OK) {
      events->FreeEventParams(code, p1, p2);
      if (code != wanted) continue;
      *param1 = p1;
      return true;
    }
  } while (GetTickCount64() < deadline);
  return false;
}

TEST_F(LiveSourceThreadedTest, ASampleTooSmallForTheFrameEndsTheStreamWithAnError) {
  // The graph is only the event sink here; the pin stays connected straight to the peer.
  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   graph.put_void()));
  ASSERT_EQ(S_OK, graph->AddFilter(filter_.get(), L"Dorvantel"));
  MediaType type;
  ASSERT_EQ(S_OK, OutputPin(filter_.get())->ConnectionMediaType(&type));
  const LONG frameBytes = static_cast<LONG>(type.lSampleSize);
  ASSERT_EQ(S_OK, peer_->ShrinkBuffers(frameBytes - 4));

  ASSERT_EQ(S_OK, filter_->Pause());
  ASSERT_TRUE(peer_->WaitForEndOfStream());
  LONG_PTR error = 0;
  ASSERT_TRUE(WaitForGraphEvent(graph.get(), EC_ERRORABORT, &error));
  EXPECT_TRUE(FAILED(static_cast<HRESULT>(error)));
  Sleep(30);
  EXPECT_EQ(0u, peer_->ReceivedCount()) << "nothing was written into, or delivered from, the short buffer";
  EXPECT_EQ(1, peer_->EndOfStreams());
  EXPECT_EQ(S_OK, filter_->Stop());

  OutputPin(filter_.get())->Disconnect();
  EXPECT_EQ(S_OK, graph->RemoveFilter(filter_.get()));
}

DWORD WINAPI ReleaseFilter(void* filter) { return static_cast<IBaseFilter*>(filter)->Release(); }

TEST_F(LiveSourceThreadedTest, AFilterReleasedWhileActiveStopsItsWorker) {
  for (bool running : {false, true}) {
    SCOPED_TRACE(running ? "running" : "paused");
    StreamPeer peer;
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, Connected(&peer, &filter));
    ASSERT_EQ(S_OK, running ? filter->Run(0) : filter->Pause());
    ASSERT_TRUE(peer.WaitForReceived(running ? 3 : 1));

    // The host never calls Stop; its last Release has to end the worker and return.
    HANDLE releaser = CreateThread(nullptr, 0, ReleaseFilter, filter.detach(), 0, nullptr);
    ASSERT_NE(nullptr, releaser);
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(releaser, 10000)) << "the release hung";
    DWORD count = 1;
    GetExitCodeThread(releaser, &count);
    CloseHandle(releaser);
    EXPECT_EQ(0u, count);
    EXPECT_EQ(1, peer.References());
  }
}

}  // namespace
