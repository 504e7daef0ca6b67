#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "tests/reliability/support/bounded_wait.h"
#include "tests/reliability/support/desktop_source.h"
#include "tests/reliability/support/resource_counts.h"
#include "tests/reliability/support/soak_plan.h"
#include "tests/support/test_graph.h"
#include "tests/support/library.h"

using namespace dorvantel;

namespace {

// Growth of private memory that still counts as "did not grow": less than one frame buffer
// of the full display.
constexpr long long kMemorySlackBytes = 1024 * 1024;
// RunOneCycle's settings repeat with this period (frame-rate mode 3, cursor 2, area 3,
// scaling 4, format 6).
constexpr int kSettingsPeriod = 60;

// Counts the samples the Sample Grabber hands over and remembers the last start time.
class CountingCallback final : public ISampleGrabberCB {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISampleGrabberCB)) {
      *out = static_cast<ISampleGrabberCB*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample* sample) override {
    REFERENCE_TIME start = 0, end = 0;
    if (sample->GetTime(&start, &end) != S_OK) {
      unstamped++;
    } else if (start <= lastStart) {
      backwards++;
    }
    lastStart = start;
    frames++;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, LONG) override { return S_OK; }

  std::atomic<long> frames{0};
  std::atomic<long> unstamped{0};
  std::atomic<long> backwards{0};
  std::atomic<REFERENCE_TIME> lastStart{-1};
};

// One Wine filter graph with a Sample Grabber and a Null Renderer, kept for a whole soak
// while source filters come and go. (Wine's graph manager keeps one event handle per
// instance it ever made, so a graph per cycle would hide the filter's own counts.)
class ReusedGraph {
 public:
  ReusedGraph() {
    ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph_.put_void());
    ::CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, grabber_.put_void());
    ::CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, renderer_.put_void());
    if (!graph_ || !grabber_ || !renderer_) return;
    graph_.query(&control_);
    ComPtr<IMediaFilter> graphFilter;
    if (SUCCEEDED(graph_.query(&graphFilter))) graphFilter->SetSyncSource(nullptr);
    graph_->AddFilter(grabber_.get(), L"Grabber");
    graph_->AddFilter(renderer_.get(), L"Renderer");
    ComPtr<ISampleGrabber> grabber;
    grabber_.query(&grabber);
    grabber->SetBufferSamples(FALSE);
    grabber->SetOneShot(FALSE);
    grabber->SetCallback(&callback, 0);
    grabber_->FindPin(L"In", grabberIn_.put());
    grabber_->FindPin(L"Out", grabberOut_.put());
    ComPtr<IEnumPins> pins;
    renderer_->EnumPins(pins.put());
    IPin* pin = nullptr;
    if (pins && pins->Next(1, &pin, nullptr) == S_OK) rendererIn_.attach(pin);
  }
  ~ReusedGraph() { Release(); }
  // Takes the filters out and lets go of the graph. The grabber and the renderer keep the
  // allocator they were last told of (the pin's own, the library's object) until then.
  void Release() {
    if (grabber_) {
      ComPtr<ISampleGrabber> grabber;
      grabber_.query(&grabber);
      grabber->SetCallback(nullptr, 0);
      if (graph_) {
        graph_->RemoveFilter(grabber_.get());
        graph_->RemoveFilter(renderer_.get());
      }
    }
    rendererIn_.reset();
    grabberOut_.reset();
    grabberIn_.reset();
    renderer_.reset();
    grabber_.reset();
    control_.reset();
    graph_.reset();
  }

  bool valid() const { return control_ && grabberIn_ && grabberOut_ && rendererIn_; }
  IMediaControl* control() const { return control_.get(); }

  // Adds the source and connects it with its format at position, then the grabber onwards.
  HRESULT Attach(DesktopSource& source, int position) {
    HRESULT hr = graph_->AddFilter(source.filter(), L"Dorvantel");
    if (FAILED(hr)) return hr;
    TaskMediaType type;
    hr = OfferedType(source.pin(), position, &type);
    if (FAILED(hr)) return hr;
    hr = graph_->ConnectDirect(source.pin(), grabberIn_.get(), type.get());
    if (FAILED(hr)) return hr;
    return graph_->ConnectDirect(grabberOut_.get(), rendererIn_.get(), nullptr);
  }
  // Disconnects every pin and takes the source out of the graph.
  void Detach(DesktopSource& source) {
    EXPECT_EQ(S_OK, graph_->Disconnect(source.pin()));
    EXPECT_EQ(S_OK, graph_->Disconnect(grabberIn_.get()));
    graph_->Disconnect(grabberOut_.get());
    graph_->Disconnect(rendererIn_.get());
    EXPECT_EQ(S_OK, graph_->RemoveFilter(source.filter()));
  }

  CountingCallback callback;

 private:
  ComPtr<IGraphBuilder> graph_;
  ComPtr<IMediaControl> control_;
  ComPtr<IBaseFilter> grabber_;
  ComPtr<IBaseFilter> renderer_;
  ComPtr<IPin> grabberIn_;
  ComPtr<IPin> grabberOut_;
  ComPtr<IPin> rendererIn_;
};

class SoakThreadedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.loaded());
    ASSERT_TRUE(graph_.valid());
  }
  void TearDown() override {
    graph_.Release();
    EXPECT_EQ(S_OK, library_.CanUnloadNow()) << "the test left objects alive";
  }

  static void Report(const char* what, const ResourceCounts& before, const ResourceCounts& after) {
    std::printf("[soak] %s: before: %s\n[soak] %s: after:  %s\n", what, Describe(before).c_str(), what,
                Describe(after).c_str());
  }
  static void ExpectNothingGrew(const ResourceCounts& before, const ResourceCounts& after) {
    EXPECT_EQ(before.gdiObjects, after.gdiObjects) << "GDI objects";
    EXPECT_EQ(before.handles, after.handles)
        << "kernel handles; new: " << DescribeNewHandles(before.openHandles, after.openHandles);
    EXPECT_LT(after.privateBytes - before.privateBytes, kMemorySlackBytes) << "private memory";
  }

  // One host's whole use of a filter: create, configure, connect, Pause, Run, Pause, Run,
  // Stop, disconnect, release. The settings change from cycle to cycle so that every
  // format, the cursor, both screen areas and the scaled path are taken.
  void RunOneCycle(int cycle) {
    DesktopSource source(library_);
    ASSERT_TRUE(source.valid());
    const LONG x = (cycle * 37) % 640;
    const LONG y = (cycle * 53) % 360;
    const RECT rect = {x, y, x + 320, y + 240};
    EXPECT_EQ(S_OK, source.WriteLong(L"FrameRate", 10 + cycle % 50));
    EXPECT_EQ(S_OK, source.WriteLong(L"FrameRateMode", cycle % 3));
    EXPECT_EQ(S_OK, source.WriteBool(L"IncludeCursor", cycle % 2 == 0));
    if (cycle % 3 != 0) {
      EXPECT_EQ(S_OK, source.CaptureScreenRect(rect));
    }
    if (cycle % 4 == 1) {
      const LONG size[2] = {160, 120};
      EXPECT_EQ(S_OK, source.WritePointer(L"OutputDimensions", size));
    }
    ASSERT_EQ(S_OK, graph_.Attach(source, cycle % 5)) << "cycle " << cycle;
    {
      Watchdog watchdog("Pause, Run, Pause, Run, Stop of soak cycle " + std::to_string(cycle), 30000);
      IMediaControl* control = graph_.control();
      CountingCallback& delivered = graph_.callback;
      EXPECT_TRUE(SUCCEEDED(control->Pause())) << "cycle " << cycle;
      EXPECT_TRUE(SUCCEEDED(control->Run())) << "cycle " << cycle;
      long seen = delivered.frames;
      EXPECT_TRUE(WaitFor("a frame after the first Run", 5000, [&] { return delivered.frames > seen; }));
      EXPECT_TRUE(SUCCEEDED(control->Pause())) << "cycle " << cycle;
      EXPECT_TRUE(SUCCEEDED(control->Run())) << "cycle " << cycle;
      seen = delivered.frames;
      EXPECT_TRUE(WaitFor("a frame after the second Run", 5000, [&] { return delivered.frames > seen; }));
      EXPECT_EQ(S_OK, control->Stop()) << "cycle " << cycle;
    }
    graph_.Detach(source);
  }

  // A filter of the whole display with the cursor, running for the given time; frames
  // must keep coming all along.
  void RunFullScreen(DWORD seconds) {
    DesktopSource source(library_);
    ASSERT_TRUE(source.valid());
    ASSERT_EQ(S_OK, source.WriteLong(L"FrameRate", 30));
    ASSERT_EQ(S_OK, source.WriteBool(L"IncludeCursor", true));
    ASSERT_EQ(S_OK, graph_.Attach(source, 0));
    graph_.callback.lastStart = -1;
    ASSERT_TRUE(SUCCEEDED(graph_.control()->Run()));
    const ULONGLONG end = ::GetTickCount64() + seconds * 1000ull;
    while (::GetTickCount64() < end && !HasFailure()) {
      const long seen = graph_.callback.frames;
      EXPECT_TRUE(WaitFor("the next frame of the long run", 5000, [&] { return graph_.callback.frames > seen; }));
      ::Sleep(100);
    }
    {
      Watchdog watchdog("Stop after the long run", 20000);
      EXPECT_EQ(S_OK, graph_.control()->Stop());
    }
    graph_.Detach(source);
  }

  ComApartment com_;
  LoadedLibrary library_;
  ReusedGraph graph_;
};

TEST_F(SoakThreadedTest, CreateConnectRunStopReleaseCyclesLeaveNothingBehind) {
  const SoakPlan plan = CurrentSoakPlan();
  // The settings repeat every kSettingsPeriod cycles, and so do the sizes of the blocks the
  // heap holds at the end of a cycle: counts are compared at the same point of the period.
  // The first period loads and initialises what the platform keeps for the process's life.
  for (int cycle = 0; cycle < kSettingsPeriod; ++cycle) RunOneCycle(cycle);
  const ResourceCounts before = MeasureResources();
  ResourceCounts after = before;
  const long framesBefore = graph_.callback.frames;
  const ULONGLONG started = ::GetTickCount64();
  const int cycles = (plan.cycles + kSettingsPeriod - 1) / kSettingsPeriod * kSettingsPeriod;
  // Private memory is judged by the lower of the last two periods' counts: now and then a
  // count catches a few megabytes that the platform holds for a moment (seen once in a few
  // hundred periods, gone by the next count), while what leaks shows in every count after it.
  long long previousBytes = before.privateBytes;
  int done = 0;
  while (done < cycles && !HasFailure()) {
    RunOneCycle(kSettingsPeriod + done);
    ++done;
    if (done % kSettingsPeriod == 0) {
      if (done > kSettingsPeriod) previousBytes = after.privateBytes;
      after = MeasureResources();
      std::printf("[soak] after %d cycles: %s\n", done, Describe(after).c_str());
    }
  }
  ResourceCounts judged = after;
  if (done > kSettingsPeriod) judged.privateBytes = std::min(after.privateBytes, previousBytes);
  const ULONGLONG elapsed = ::GetTickCount64() - started;
  graph_.Release();
  EXPECT_EQ(S_OK, library_.CanUnloadNow());
  const long frames = graph_.callback.frames - framesBefore;
  std::printf("[soak] %d cycles in %.1f s, %ld frames delivered\n", done, elapsed / 1000.0, frames);
  Report("cycles", before, after);
  EXPECT_GE(frames, 2 * done) << "frames did not flow in every cycle";
  EXPECT_EQ(0, graph_.callback.unstamped) << "frames without time stamps";
  ExpectNothingGrew(before, judged);
}

TEST_F(SoakThreadedTest, LongRunKeepsFramesFlowingAndGivesEverythingBack) {
  const SoakPlan plan = CurrentSoakPlan();
  // A short run of the same kind first: the platform's first full-screen buffers and
  // whatever it keeps for the process's life are then in place.
  RunFullScreen(1);
  const ResourceCounts before = MeasureResources();
  graph_.callback.frames = 0;
  graph_.callback.backwards = 0;
  graph_.callback.lastStart = -1;
  RunFullScreen(plan.runSeconds);
  const long frames = graph_.callback.frames;
  const ResourceCounts after = MeasureResources();
  std::printf("[soak] long run of %lu s: %ld frames (%.1f per second)\n", static_cast<unsigned long>(plan.runSeconds),
              frames, static_cast<double>(frames) / plan.runSeconds);
  Report("long run", before, after);
  EXPECT_EQ(0, graph_.callback.backwards) << "start times went backwards";
  EXPECT_EQ(0, graph_.callback.unstamped) << "frames without time stamps";
  EXPECT_GT(frames, static_cast<long>(plan.runSeconds)) << "fewer than one frame per second";
  ExpectNothingGrew(before, after);
}

}  // namespace
