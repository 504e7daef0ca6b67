// A host that crashes half-way or tears down on an error path releases a running filter
// without Stop. Hundreds of such releases, each with the worker caught somewhere else: waiting
// for its next frame slot, waiting for a buffer, after the downstream pin refused a sample,
// inside a grab, reporting an error to a graph that has just gone, and with Wine's Sample
// Grabber as the peer, in and out of Wine's graph (the grabber's input pin disconnected under
// a running source, or the source taken out of a running graph).
//
// Every call that may drop the last reference runs on a thread of its own and must return
// within a bound; a release that does not is counted as a hang and left where it hangs, and
// the run goes on. Afterwards DllCanUnloadNow is S_OK and GDI objects and kernel handles are
// where they were. The program runs with Wine's heap checking: a worker that touches what the
// release freed shows as a heap complaint or a fault.

#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "hostkit/grabber_graph.h"
#include "hostkit/pins.h"
#include "tests/reliability/support/bounded_wait.h"
#include "tests/reliability/support/desktop_source.h"
#include "tests/reliability/support/downstream_double.h"
#include "tests/reliability/support/resource_counts.h"
#include "tests/support/library.h"

using namespace dorvantel;

namespace {

constexpr DWORD kReleaseBoundMs = 5000;
constexpr DWORD kStepBoundMs = 10000;
// Rounds of every case out of a graph of its own: 9 releases a round.
constexpr int kRounds = 60;
// Rounds of a release with the graph; each makes a graph of Wine's.
constexpr int kGraphRounds = 24;
// A run with this many hangs has shown enough: it ends early rather than wait out every bound.
constexpr int kHangsEnough = 100;

// Runs action on a thread of its own (in the multithreaded apartment); false when it has not
// returned within boundMs. The thread then keeps running, and what action uses must stay alive.
bool ReturnsWithin(DWORD boundMs, std::function<void()> action) {
  struct Call {
    std::function<void()> action;
    static DWORD WINAPI Run(void* argument) {
      std::unique_ptr<Call> call(static_cast<Call*>(argument));
      ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      call->action();
      ::CoUninitialize();
      return 0;
    }
  };
  auto* call = new Call{std::move(action)};
  ThreadHandle thread(::CreateThread(nullptr, 0, &Call::Run, call, 0, nullptr));
  if (!thread) {
    delete call;
    return false;
  }
  return ::WaitForSingleObject(thread.get(), boundMs) == WAIT_OBJECT_0;
}

// Counts the samples Wine's Sample Grabber hands over.
class CountingCallback final : public ISampleGrabberCB {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISampleGrabberCB)) {
      *out = static_cast<ISampleGrabberCB*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // Owned by the test, which outlives the graph.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample*) override {
    ++samples;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, LONG) override { return S_OK; }

  std::atomic<long> samples{0};
};

// Where the worker is when the last reference goes.
enum class Caught {
  WaitingForSlot,      // paced at one frame a second, after the first frame
  WaitingForBuffer,    // the downstream keeps both buffers
  AfterRefusal,        // Receive refused a sample: the worker idles
  Grabbing,            // unpaced frames flowing: inside a grab or a delivery
  InsideReceive,       // Receive holds the sample until it is flushed or stopped
  ReportingToGoneGraph,  // a fill error reported while the graph takes the filter out
  GrabberDisconnected, // out of the graph; the grabber's graph stopped and its input disconnected
  GrabberStopped,      // out of the graph; the grabber's graph stopped, the grabber still connected
  HeldByPausedRenderer,  // out of the graph; the grabber's graph paused: its renderer holds Receive
  // In a running graph of Wine's that the host releases without Stop (a graph of its own each
  // time: Wine keeps a handle for every graph it made, so kernel handles are not compared).
  InRunningGraph,
  kCount
};

const char* Name(Caught caught) {
  switch (caught) {
    case Caught::WaitingForSlot: return "waiting for its frame slot";
    case Caught::WaitingForBuffer: return "waiting for a buffer";
    case Caught::AfterRefusal: return "idle after a refusal";
    case Caught::Grabbing: return "grabbing";
    case Caught::InsideReceive: return "inside a Receive that waits";
    case Caught::HeldByPausedRenderer: return "delivering to a paused renderer";
    case Caught::ReportingToGoneGraph: return "reporting an error to a graph that has gone";
    case Caught::GrabberDisconnected: return "delivering to a grabber whose input disconnected";
    case Caught::InRunningGraph: return "delivering in a running graph released without Stop";
    case Caught::GrabberStopped: return "delivering to a stopped grabber";
    default: return "?";
  }
}

class ReleaseWithoutStopThreadedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.loaded());
    // One graph of Wine's for the whole run (each graph instance keeps a handle of its own).
    ASSERT_EQ(S_OK, grabberGraph_.Create(nullptr, &callback_));
    ASSERT_EQ(S_OK, grabberGraph_.RemoveClock());
    ASSERT_EQ(S_OK, FindPin(grabberGraph_.grabberFilter(), PINDIR_INPUT, &grabberIn_));
    ASSERT_EQ(S_OK, FindPin(grabberGraph_.grabberFilter(), PINDIR_OUTPUT, &grabberOut_));
    ASSERT_EQ(S_OK, FindPin(grabberGraph_.renderer(), PINDIR_INPUT, &rendererIn_));
  }
  void TearDown() override {
    if (hangs_ == 0) grabberGraph_.Release();
  }

  // One release of a running filter with the worker caught as said; false on a hang.
  bool ReleaseCaught(Caught caught, int round);
  int RunRounds(Caught first, Caught last, int rounds);

  // The grabber's pins back to unconnected, the graph stopped, and new peers in the graph.
  void ResetGrabber() {
    grabberGraph_.control()->Stop();
    grabberGraph_.grabberFilter()->Stop();
    grabberGraph_.renderer()->Stop();
    grabberGraph_.graph()->Disconnect(grabberOut_.get());
    grabberGraph_.graph()->Disconnect(rendererIn_.get());
    grabberGraph_.graph()->Disconnect(grabberIn_.get());
    // New peers: Wine's keep the filter's own allocator, a library object, until released.
    EXPECT_EQ(S_OK, grabberGraph_.RenewPeers(&callback_));
    EXPECT_EQ(S_OK, FindPin(grabberGraph_.grabberFilter(), PINDIR_INPUT, &grabberIn_));
    EXPECT_EQ(S_OK, FindPin(grabberGraph_.grabberFilter(), PINDIR_OUTPUT, &grabberOut_));
    EXPECT_EQ(S_OK, FindPin(grabberGraph_.renderer(), PINDIR_INPUT, &rendererIn_));
  }

  ::testing::AssertionResult ConnectThroughGrabber(DesktopSource& source, bool inGraph) {
    TaskMediaType type;
    HRESULT hr = OfferedType(source.pin(), 0, &type);
    if (SUCCEEDED(hr)) {
      hr = inGraph ? grabberGraph_.graph()->ConnectDirect(source.pin(), grabberIn_.get(), type.get())
                   : source.pin()->Connect(grabberIn_.get(), type.get());
    }
    if (SUCCEEDED(hr)) hr = grabberGraph_.graph()->ConnectDirect(grabberOut_.get(), rendererIn_.get(), type.get());
    if (FAILED(hr)) return ::testing::AssertionFailure() << "connecting through the grabber: 0x" << std::hex << hr;
    return ::testing::AssertionSuccess();
  }

  ComApartment com_;
  LoadedLibrary library_;
  CountingCallback callback_;
  GrabberGraph grabberGraph_;
  ComPtr<IPin> grabberIn_, grabberOut_, rendererIn_;
  int hangs_ = 0;
  long lateEvents_ = 0;
};

bool ReleaseWithoutStopThreadedTest::ReleaseCaught(Caught caught, int round) {
  // On a hang everything the hung release may still touch is left alive.
  auto ownedSource = std::make_unique<DesktopSource>(library_);
  auto ownedDownstream = std::make_unique<DownstreamPin>();
  auto ownedGraph = std::make_unique<EventSinkGraph>();
  DesktopSource* source = ownedSource.get();
  DownstreamPin* downstream = ownedDownstream.get();
  EventSinkGraph* graph = ownedGraph.get();
  const auto release = [&](const std::function<void()>& last) {
    if (ReturnsWithin(kReleaseBoundMs, last)) return true;
    // Left alive for the release that still runs.
    static_cast<void>(ownedSource.release());
    static_cast<void>(ownedDownstream.release());
    static_cast<void>(ownedGraph.release());
    ADD_FAILURE() << "bound expired: the last release of a running filter, the worker " << Name(caught)
                  << " (round " << round << "), did not return within " << kReleaseBoundMs << " ms";
    ++hangs_;
    return false;
  };
  EXPECT_TRUE(source->valid());
  EXPECT_EQ(S_OK, source->CaptureScreenRect(RECT{0, 0, 64, 48}));

  switch (caught) {
    case Caught::WaitingForSlot:
    case Caught::WaitingForBuffer:
    case Caught::AfterRefusal:
    case Caught::Grabbing:
    case Caught::InsideReceive: {
      const bool paced = caught == Caught::WaitingForSlot;
      // Paced at one frame a second, the worker waits for its next slot after the first.
      EXPECT_EQ(S_OK, paced ? source->WriteLong(L"FrameRate", 1) : source->WriteBool(L"FramePacing", false));
      if (caught == Caught::WaitingForBuffer) downstream->HoldSamples(true);
      if (caught == Caught::InsideReceive) downstream->BlockInReceive(true);
      if (caught == Caught::AfterRefusal) downstream->RefuseAfter(1 + round % 3, round % 2 ? E_FAIL : S_FALSE);
      EXPECT_EQ(S_OK, source->ConnectTo(downstream, 0));
      EXPECT_EQ(S_OK, source->filter()->Run(0));
      const long frames = caught == Caught::Grabbing ? 1 + round % 4 : 1;
      EXPECT_TRUE(WaitFor("frames before the release", kStepBoundMs,
                          [&] { return downstream->receivedCount() >= frames; }));
      if (caught == Caught::WaitingForBuffer) {
        EXPECT_TRUE(WaitFor("the worker to wait for a buffer", kStepBoundMs,
                            [&] { return downstream->allocator().waitingInGetBuffer() > 0; }));
      }
      if (caught == Caught::InsideReceive) {
        EXPECT_TRUE(WaitFor("the worker inside Receive", kStepBoundMs, [&] { return downstream->insideReceive() > 0; }));
      }
      if (caught == Caught::AfterRefusal) {
        EXPECT_TRUE(WaitFor("a refused sample", kStepBoundMs, [&] { return downstream->refusedCount() > 0; }));
      }
      const bool returned = release([source] { source->Release(); });
      downstream->ReleaseHeldSamples();
      if (returned) {
        EXPECT_EQ(1, downstream->refs()) << "references left on the downstream pin";
      }
      return returned;
    }
    case Caught::ReportingToGoneGraph: {
      // Every fill fails (the buffers are smaller than they are said to be): the worker ends
      // the stream and reports to the graph, which takes the filter out as it does.
      downstream->allocator().ShrinkBuffersBy(4);
      graph->NotifyTakes(10000);
      EXPECT_EQ(S_OK, source->filter()->JoinFilterGraph(graph, L"Dorvantel"));
      EXPECT_EQ(S_OK, source->ConnectTo(downstream, 0));
      EXPECT_EQ(S_OK, source->filter()->Run(0));
      // Every other time while the worker is inside the graph's Notify (unless it was done
      // before this looked), else at once.
      if (round % 2) {
        EXPECT_TRUE(WaitFor("the error reported", kStepBoundMs,
                            [&] { return graph->insideNotify() > 0 || !graph->Events().empty(); }));
      }
      EXPECT_EQ(S_OK, source->filter()->JoinFilterGraph(nullptr, nullptr));
      graph->Leave();
      EXPECT_TRUE(WaitFor("the end of the stream", kStepBoundMs, [&] { return downstream->endOfStreams() > 0; }));
      const bool returned = release([source] { source->Release(); });
      EXPECT_EQ(0, graph->lateNotifies()) << "events sent into a graph after the filter left it";
      lateEvents_ += graph->lateNotifies();
      return returned;
    }
    case Caught::GrabberDisconnected:
    case Caught::GrabberStopped:
    case Caught::HeldByPausedRenderer: {
      const bool paused = caught == Caught::HeldByPausedRenderer;
      EXPECT_TRUE(ConnectThroughGrabber(*source, false));
      EXPECT_TRUE(SUCCEEDED(paused ? grabberGraph_.control()->Pause() : grabberGraph_.control()->Run()));
      const long before = callback_.samples;
      EXPECT_EQ(S_OK, source->filter()->Run(0));
      EXPECT_TRUE(WaitFor("frames through the grabber", kStepBoundMs, [&] { return callback_.samples > before; }));
      if (!paused) grabberGraph_.control()->Stop();
      if (caught == Caught::GrabberDisconnected) grabberGraph_.graph()->Disconnect(grabberIn_.get());
      // The grabber's input may still hold the pin: its disconnect is where the last reference goes.
      return release([this, source] {
        source->Release();
        ResetGrabber();
      });
    }
    case Caught::InRunningGraph: {
      // A graph of its own, since the filter goes with it: source -> Sample Grabber -> Null
      // Renderer, run; then the host drops every reference it holds, the graph's last.
      ComPtr<IGraphBuilder> own;
      ComPtr<IBaseFilter> grabber, renderer;
      ComPtr<IPin> in, out, rendererIn;
      ComPtr<ISampleGrabber> grabbing;
      ComPtr<IMediaControl> control;
      TaskMediaType type;
      EXPECT_EQ(S_OK, ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         own.put_void()));
      EXPECT_EQ(S_OK, ::CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                         grabber.put_void()));
      EXPECT_EQ(S_OK, ::CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                         renderer.put_void()));
      if (!own || !grabber || !renderer) return true;
      EXPECT_EQ(S_OK, grabber.query(&grabbing));
      EXPECT_EQ(S_OK, grabbing->SetCallback(&callback_, 0));
      EXPECT_EQ(S_OK, own.query(&control));
      // Without a clock: Wine's system clock can hang its own release (its advise thread
      // misses the wake-up), which is not what this counts.
      ComPtr<IMediaFilter> timing;
      EXPECT_EQ(S_OK, own.query(&timing));
      EXPECT_EQ(S_OK, timing->SetSyncSource(nullptr));
      EXPECT_EQ(S_OK, own->AddFilter(source->filter(), L"Dorvantel"));
      EXPECT_EQ(S_OK, own->AddFilter(grabber.get(), L"Sample Grabber"));
      EXPECT_EQ(S_OK, own->AddFilter(renderer.get(), L"Null Renderer"));
      EXPECT_EQ(S_OK, FindPin(grabber.get(), PINDIR_INPUT, &in));
      EXPECT_EQ(S_OK, FindPin(grabber.get(), PINDIR_OUTPUT, &out));
      EXPECT_EQ(S_OK, FindPin(renderer.get(), PINDIR_INPUT, &rendererIn));
      EXPECT_EQ(S_OK, OfferedType(source->pin(), 0, &type));
      EXPECT_EQ(S_OK, own->ConnectDirect(source->pin(), in.get(), type.get()));
      EXPECT_EQ(S_OK, own->ConnectDirect(out.get(), rendererIn.get(), type.get()));
      const long before = callback_.samples;
      EXPECT_TRUE(SUCCEEDED(control->Run()));
      EXPECT_TRUE(WaitFor("frames in the graph", kStepBoundMs, [&] { return callback_.samples > before; }));
      IGraphBuilder* const graphOwned = own.detach();
      in.reset();
      out.reset();
      rendererIn.reset();
      grabbing.reset();
      control.reset();
      grabber.reset();
      renderer.reset();
      return release([source, graphOwned] {
        source->Release();
        graphOwned->Release();
      });
    }
    default:
      return false;
  }
}

// Runs rounds of releases of the cases from first to last (each once a round); the hangs.
int ReleaseWithoutStopThreadedTest::RunRounds(Caught first, Caught last, int rounds) {
  const int from = static_cast<int>(first), to = static_cast<int>(last);
  const ULONGLONG start = ::GetTickCount64();
  int releases = 0;
  int perCase[static_cast<int>(Caught::kCount)] = {};
  int hangsPerCase[static_cast<int>(Caught::kCount)] = {};
  for (int round = 1; round <= rounds && hangs_ < kHangsEnough; ++round) {
    for (int c = from; c <= to && hangs_ < kHangsEnough; ++c) {
      Watchdog watchdog("a release cycle of the stress test", 4 * kStepBoundMs + kReleaseBoundMs);
      ++releases;
      ++perCase[c];
      if (!ReleaseCaught(static_cast<Caught>(c), round)) {
        ++hangsPerCase[c];
        continue;
      }
      if (hangs_ == 0) {
        EXPECT_EQ(S_OK, library_.CanUnloadNow()) << "objects alive after a release, the worker "
                                                 << Name(static_cast<Caught>(c));
      }
    }
  }
  const double seconds = (::GetTickCount64() - start) / 1000.0;
  std::printf("[release] %d releases of a running filter in %.1f s, %ld events into a graph the filter had left, %d hung:",
              releases, seconds, lateEvents_, hangs_);
  for (int c = from; c <= to; ++c) std::printf(" %s %d/%d;", Name(static_cast<Caught>(c)), hangsPerCase[c], perCase[c]);
  std::printf("\n");
  return hangs_;
}

TEST_F(ReleaseWithoutStopThreadedTest, EveryReleaseReturnsAndFreesEverything) {
  const Caught first = Caught::WaitingForSlot, last = Caught::HeldByPausedRenderer;
  // A round of every case first, so that what the platform keeps after its first use (GDI+,
  // the graph's filters) is in place before the counts are taken.
  for (int c = static_cast<int>(first); c <= static_cast<int>(last); ++c) {
    if (ReleaseCaught(static_cast<Caught>(c), 0) && hangs_ == 0) {
      EXPECT_EQ(S_OK, library_.CanUnloadNow()) << "objects alive after a release, the worker "
                                               << Name(static_cast<Caught>(c));
    }
  }
  const ResourceCounts before = MeasureResources();
  EXPECT_EQ(0, RunRounds(first, last, kRounds)) << "releases that did not return";
  if (hangs_ != 0) return;

  EXPECT_EQ(S_OK, library_.CanUnloadNow());
  const ResourceCounts after = MeasureResources();
  std::printf("[release] before %s; after %s\n", Describe(before).c_str(), Describe(after).c_str());
  EXPECT_EQ(before.gdiObjects, after.gdiObjects) << "GDI objects";
  EXPECT_EQ(before.handles, after.handles) << "kernel handles: "
                                           << DescribeNewHandles(before.openHandles, after.openHandles);
}

TEST_F(ReleaseWithoutStopThreadedTest, RunningGraphReleasedWithoutStop) {
  ReleaseCaught(Caught::InRunningGraph, 0);
  const ResourceCounts before = MeasureResources();
  EXPECT_EQ(0, RunRounds(Caught::InRunningGraph, Caught::InRunningGraph, kGraphRounds))
      << "releases that did not return";
  if (hangs_ != 0) return;
  EXPECT_EQ(S_OK, library_.CanUnloadNow());
  EXPECT_EQ(before.gdiObjects, MeasureResources().gdiObjects) << "GDI objects";
}

}  // namespace
