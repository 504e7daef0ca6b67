// Pairs of calls that hosts make on different threads at once, hammered for a bounded time
// under Wine's heap checking (this program runs with WINEDEBUG=warn+heap): a read of freed
// memory shows as a wrong answer, a fault or a heap complaint.

#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "format/media_type.h"
#include "tests/framework/test_source.h"
#include "tests/reliability/support/bounded_wait.h"
#include "tests/reliability/support/desktop_source.h"
#include "tests/reliability/support/downstream_double.h"
#include "tests/support/test_graph.h"
#include "tests/support/library.h"

using namespace dorvantel;

namespace {

constexpr DWORD kHammerMs = 2000;
constexpr DWORD kCallBoundMs = 15000;

// Runs each caller on a thread of its own until the main thread's work (run repeatedly)
// has gone on for kHammerMs; returns how often the work ran.
struct Caller {
  const std::function<void()>* body;
  std::atomic<bool>* done;
};

DWORD WINAPI CallUntilDone(void* argument) {
  auto* caller = static_cast<Caller*>(argument);
  ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  while (!caller->done->load()) (*caller->body)();
  ::CoUninitialize();
  return 0;
}

long HammerWhile(const std::vector<std::function<void()>>& callers, const std::function<void()>& work) {
  std::atomic<bool> done{false};
  std::vector<Caller> contexts;
  for (const auto& caller : callers) contexts.push_back({&caller, &done});
  std::vector<ThreadHandle> threads;
  for (Caller& context : contexts) {
    threads.emplace_back(::CreateThread(nullptr, 0, CallUntilDone, &context, 0, nullptr));
  }
  long rounds = 0;
  const ULONGLONG end = ::GetTickCount64() + kHammerMs;
  while (::GetTickCount64() < end) {
    work();
    ++rounds;
  }
  done = true;
  Watchdog watchdog("the hammering threads to end", kCallBoundMs);
  for (ThreadHandle& thread : threads) ::WaitForSingleObject(thread.get(), INFINITE);
  return rounds;
}

// The built library loaded as a host loads it; no test leaves an object of it alive.
class RaceThreadedTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(library_.loaded()); }
  void TearDown() override { EXPECT_EQ(S_OK, library_.CanUnloadNow()) << "the test left objects alive"; }

  ComApartment com_;
  LoadedLibrary library_;
};

// QueryId reads the pin array on the host's thread while pins attach (the array is made
// anew, the old one freed) and detach.
TEST_F(RaceThreadedTest, QueryIdWhilePinsAttachAndDetach) {
  ComPtr<IBaseFilter> filter = TestSource::Create(kTestFrame);
  TestSource* source = TestSource::From(filter.get());
  IPin* first = source->Pin(0)->AsPin();
  std::atomic<long> calls{0}, wrong{0};
  const auto askId = [&] {
    LPWSTR id = nullptr;
    const HRESULT hr = first->QueryId(&id);
    if (hr != S_OK || !id || std::wcscmp(id, L"1") != 0) ++wrong;
    ::CoTaskMemFree(id);
    ++calls;
  };
  const long rounds = HammerWhile({askId, askId}, [&] {
    TestPin* pins[3];
    for (TestPin*& pin : pins) pin = new TestPin(source, kTestFrame, L"Extra", nullptr);
    delete pins[1];
    delete pins[0];
    delete pins[2];
  });
  EXPECT_EQ(0, wrong.load()) << "wrong ids in " << calls.load() << " calls";
  EXPECT_EQ(1, source->PinCount());
  std::printf("[races] pin array: %ld calls of QueryId, %ld rounds of attach and detach\n", calls.load(), rounds);
}

// A host asks for the filter's name and graph while the graph renames the filter.
TEST_F(RaceThreadedTest, QueryFilterInfoWhileTheGraphRenamesTheFilter) {
  EventSinkGraph graph;
  {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, library_.CreateFilter(&filter));
    const std::wstring names[2] = {std::wstring(100, L'a'), L"bc"};
    std::atomic<long> calls{0}, wrong{0};
    const auto askInfo = [&] {
      FILTER_INFO info = {};
      if (filter->QueryFilterInfo(&info) != S_OK || (names[0] != info.achName && names[1] != info.achName)) {
        ++wrong;
      }
      if (info.pGraph) info.pGraph->Release();
      ++calls;
    };
    // Named before the callers start: a filter outside any graph has no name, and a caller
    // that runs before the first rename would count that as wrong.
    long round = 0;
    ASSERT_EQ(S_OK, filter->JoinFilterGraph(&graph, names[0].c_str()));
    HammerWhile({askInfo, askInfo}, [&] { filter->JoinFilterGraph(&graph, names[++round % 2].c_str()); });
    EXPECT_EQ(0, wrong.load()) << "wrong names in " << calls.load() << " calls";
    EXPECT_EQ(S_OK, filter->JoinFilterGraph(nullptr, nullptr));
    std::printf("[races] filter info: %ld calls, %ld renames\n", calls.load(), round);
  }
  EXPECT_EQ(1, graph.refs()) << "references to the graph";
}

// Busy for about the given microseconds.
void SpinFor(LONGLONG microseconds) {
  LARGE_INTEGER frequency, now, start;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  do {
    ::QueryPerformanceCounter(&now);
  } while ((now.QuadPart - start.QuadPart) * 1000000 < microseconds * frequency.QuadPart);
}

// A downstream pin made for one connection: the source holds the only references while
// connected, so the last Disconnect releases it; a reference taken after that is counted.
// Its AddRef takes a few microseconds before it counts (as a proxy's does), so that a
// reference taken on a pointer read just before the release arrives after it.
class OneConnectionPeer : public DownstreamPin {
 public:
  static std::atomic<long> lateReferences;

  ULONG STDMETHODCALLTYPE AddRef() override {
    SpinFor(5);
    if (released_) ++lateReferences;
    return static_cast<ULONG>(++refs_);
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const long left = --refs_;
    if (left == 0) released_ = true;  // kept in memory by the test, so a late AddRef is seen
    return static_cast<ULONG>(left);
  }
  long references() const { return refs_; }

 private:
  std::atomic<long> refs_{1};
  std::atomic<bool> released_{false};
};
std::atomic<long> OneConnectionPeer::lateReferences{0};

// The 8-bit palette of a connection type; empty when the type has none.
std::vector<BYTE> PaletteOf(const AM_MEDIA_TYPE& type) {
  const size_t bytes = 256 * sizeof(RGBQUAD);
  if (!type.pbFormat || type.cbFormat < sizeof(VIDEOINFOHEADER) + bytes) return {};
  const BYTE* palette = type.pbFormat + sizeof(VIDEOINFOHEADER);
  return std::vector<BYTE>(palette, palette + bytes);
}

// Hosts ask the pin for its peer (ConnectedTo) and its type (ConnectionMediaType, GetFormat)
// while it connects to a new peer, streams 8-bit frames (whose grabs write the colour table
// into the connection's type again), stops and disconnects, over and over.
TEST_F(RaceThreadedTest, PeerAndTypeAskedWhileConnectionsComeAndGo) {
  std::vector<std::unique_ptr<OneConnectionPeer>> peers;
  {
    DesktopSource source(library_);
    ASSERT_TRUE(source.valid());
    ASSERT_EQ(S_OK, source.CaptureScreenRect(RECT{0, 0, 64, 48}));
    ASSERT_EQ(S_OK, source.WriteBool(L"FramePacing", false));
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, source.pin()->QueryInterface(IID_IAMStreamConfig, config.put_void()));
    const std::vector<BYTE> zeros(256 * sizeof(RGBQUAD), 0);
    std::vector<BYTE> screenPalette;

    // A connection to a new peer, and with stream set its first frame.
    const auto connectOnce = [&](bool stream) {
      peers.push_back(std::make_unique<OneConnectionPeer>());
      OneConnectionPeer* peer = peers.back().get();
      ASSERT_EQ(S_OK, source.ConnectTo(peer, 4));
      peer->Release();  // the source's references are the only ones now
      if (stream) {
        ASSERT_EQ(S_OK, source.filter()->Run(0));
        ASSERT_TRUE(WaitFor("a frame of the new connection", kCallBoundMs, [&] { return peer->receivedCount() > 0; }));
        Watchdog watchdog("Stop", kCallBoundMs);
        ASSERT_EQ(S_OK, source.filter()->Stop());
      }
      ASSERT_EQ(S_OK, source.pin()->Disconnect());
    };
    // Streaming takes far longer than connecting: most connections only connect.
    long connections = 0;
    const auto connectSome = [&] {
      for (int i = 0; i < 8; ++i) connectOnce(i == 0);
      connections += 8;
    };
    // The palette the first frame writes, read while nothing else runs.
    peers.push_back(std::make_unique<OneConnectionPeer>());
    ASSERT_EQ(S_OK, source.ConnectTo(peers.back().get(), 4));
    ASSERT_EQ(S_OK, source.filter()->Run(0));
    ASSERT_TRUE(WaitFor("the first frame", kCallBoundMs, [&] { return peers.back()->receivedCount() > 0; }));
    ASSERT_EQ(S_OK, source.filter()->Stop());
    AM_MEDIA_TYPE agreed = {};
    ASSERT_EQ(S_OK, source.pin()->ConnectionMediaType(&agreed));
    screenPalette = PaletteOf(agreed);
    ReleaseMediaTypeFormat(&agreed);
    ASSERT_EQ(S_OK, source.pin()->Disconnect());
    peers.back()->Release();
    ASSERT_EQ(zeros.size(), screenPalette.size());

    std::atomic<long> peerCalls{0}, typeCalls{0}, mixedPalettes{0};
    const auto askPeer = [&] {
      IPin* peer = nullptr;
      if (source.pin()->ConnectedTo(&peer) == S_OK) peer->Release();
      ++peerCalls;
    };
    // Each copy of the type holds the 8-bit colour table whole, or zeros there (the RGB32 type
    // of a pin without a connection).
    const auto judge = [&](const AM_MEDIA_TYPE& type) {
      const std::vector<BYTE> palette = PaletteOf(type);
      if (palette != zeros && palette != screenPalette) ++mixedPalettes;
      ++typeCalls;
    };
    const auto askType = [&] {
      AM_MEDIA_TYPE type = {};
      if (source.pin()->ConnectionMediaType(&type) == S_OK) judge(type);
      ReleaseMediaTypeFormat(&type);
      AM_MEDIA_TYPE* format = nullptr;
      if (config->GetFormat(&format) == S_OK && format) {
        judge(*format);
        ReleaseMediaTypeFormat(format);
        ::CoTaskMemFree(format);
      }
    };
    const long lateBefore = OneConnectionPeer::lateReferences;
    const long rounds = HammerWhile({askPeer, askType}, connectSome);
    EXPECT_EQ(lateBefore, OneConnectionPeer::lateReferences.load())
        << "ConnectedTo referenced a peer the source had released";
    EXPECT_EQ(0, mixedPalettes.load()) << "copies of the type with a palette half written, of " << typeCalls.load();
    std::printf("[races] %ld connections (%ld streaming), %ld ConnectedTo and %ld type copies\n", connections,
                rounds, peerCalls.load(), typeCalls.load());
    config.reset();
    source.Release();
  }
  for (const auto& peer : peers) EXPECT_EQ(0, peer->references()) << "references left on a peer";
}

// The pin makes one frame while paused in its whole life, at the worker's first frame. A
// filter run straight from Stopped starts its worker as it pauses: whether the worker looks
// before or after the filter runs, no later pause delivers a frame (one there was stamped
// before the pause it was made in was counted, and the frames after it a pause later).
TEST_F(RaceThreadedTest, NoFrameWhilePausedAfterRunningStraightFromStopped) {
  DownstreamPin downstream;
  {
    DesktopSource source(library_);
    ASSERT_TRUE(source.valid());
    ASSERT_EQ(S_OK, source.CaptureScreenRect(RECT{0, 0, 64, 48}));
    ASSERT_EQ(S_OK, source.WriteLong(L"FrameRate", 100));
    ASSERT_EQ(S_OK, source.ConnectTo(&downstream, 0));
    long pausedFrames = 0;
    for (int round = 0; round < 5; ++round) {
      ASSERT_EQ(S_OK, source.filter()->Run(0));
      const long before = downstream.receivedCount();
      ASSERT_TRUE(WaitFor("frames while running", kCallBoundMs, [&] { return downstream.receivedCount() > before + 1; }));
      Watchdog watchdog("Stop and Pause", kCallBoundMs);
      ASSERT_EQ(S_OK, source.filter()->Stop());
      ASSERT_EQ(S_OK, source.filter()->Pause());
      const long paused = downstream.receivedCount();
      ::Sleep(200);
      pausedFrames += downstream.receivedCount() - paused;
      ASSERT_EQ(S_OK, source.filter()->Stop());
    }
    EXPECT_EQ(0, pausedFrames) << "frames delivered while paused after the first run";
    source.DisconnectFrom(&downstream);
    source.Release();
  }
  EXPECT_EQ(1, downstream.refs());
}

}  // namespace
