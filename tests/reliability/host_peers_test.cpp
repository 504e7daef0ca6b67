#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <cstdio>
#include <string>

#include "tests/reliability/support/bounded_wait.h"
#include "tests/reliability/support/desktop_source.h"
#include "tests/reliability/support/downstream_double.h"
#include "tests/reliability/support/resource_counts.h"
#include "tests/support/library.h"

using namespace dorvantel;

namespace {

constexpr DWORD kFramesBoundMs = 10000;
constexpr DWORD kCallBoundMs = 15000;
constexpr LONG kWidth = 96;
constexpr LONG kHeight = 64;
// Cycles before the counts are taken (the platform's first buffers and what it keeps for the
// process's life), and cycles measured.
constexpr int kWarmUpCycles = 5;
constexpr int kMeasuredCycles = 40;
constexpr long long kMemorySlackBytes = 1024 * 1024;

// How the sink of a real host meets a capture source (see the hosts' notes). None of them
// brings an allocator: each connection runs on the filter's own.
struct HostSink {
  const char* name;
  HRESULT queryAccept;
  GUID acceptedSubtype;  // GUID_NULL: any video type
  bool partialTypeFirst;  // its enumerator offers a type with only the major type set
  size_t keptSamples;     // samples it keeps referenced until its reader takes them; 0: none
  GUID expectedSubtype;   // what the filter must connect with
};

const HostSink kHostSinks[] = {
    // ffmpeg: QueryAccept always S_FALSE, ReceiveConnection checks the major type only.
    {"ffmpeg", S_FALSE, GUID_NULL, true, 0, MEDIASUBTYPE_RGB32},
    // VLC: keeps up to 10 samples, let go by its reading thread.
    {"vlc", S_OK, GUID_NULL, false, 10, MEDIASUBTYPE_RGB32},
    // OBS: a partial type first, then only its one exact subtype (not the filter's first).
    {"obs", S_OK, MEDIASUBTYPE_RGB24, true, 0, MEDIASUBTYPE_RGB24},
};

class HostPeersThreadedTest : public ::testing::TestWithParam<HostSink> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.loaded());
    const HostSink& host = GetParam();
    sink_.AnswerQueryAccept(host.queryAccept);
    sink_.OfferNoAllocator(true);
    sink_.AcceptOnly(MEDIATYPE_Video, host.acceptedSubtype);
    sink_.HoldSamples(host.keptSamples != 0, host.keptSamples);
    partial_.majortype = MEDIATYPE_Video;
    if (host.partialTypeFirst) sink_.OfferTypes({&partial_});
  }

  // One host's whole use of a filter: create, configure, connect with no type given, run,
  // pause, stop, disconnect, release. A keeping sink lets its samples go only after the
  // filter is gone.
  void RunOneCycle(int cycle) {
    SCOPED_TRACE(std::string(GetParam().name) + " cycle " + std::to_string(cycle));
    {
      DesktopSource source(library_);
      ASSERT_TRUE(source.valid());
      ASSERT_EQ(S_OK, source.filter()->JoinFilterGraph(&graph_, L"Dorvantel"));
      const LONG x = (cycle * 37) % 400;
      ASSERT_EQ(S_OK, source.CaptureScreenRect(RECT{x, 50, x + kWidth, 50 + kHeight}));
      ASSERT_EQ(S_OK, source.WriteLong(L"FrameRate", 100));
      // Every other cycle draws the cursor, whose state a probe thread of the capture asks for.
      ASSERT_EQ(S_OK, source.WriteBool(L"IncludeCursor", cycle % 2 == 1));
      ASSERT_EQ(S_OK, source.pin()->Connect(&sink_, nullptr));
      EXPECT_TRUE(IsEqualGUID(GetParam().expectedSubtype, sink_.connectedSubtype())) << "connected another subtype";
      ASSERT_NE(nullptr, sink_.notifiedAllocator()) << "the sink was told of no allocator";
      EXPECT_NE(static_cast<IMemAllocator*>(&sink_.allocator()), sink_.notifiedAllocator());

      sink_.Start();
      const long before = sink_.receivedCount();
      {
        Watchdog watchdog("Run, frames, Pause and Stop", kCallBoundMs * 2);
        ASSERT_EQ(S_OK, source.filter()->Run(0));
        // The host's reader takes samples as they come, so the two buffers come back.
        EXPECT_TRUE(WaitFor("frames while running", kFramesBoundMs, [&] {
          while (sink_.heldCount() > 1) sink_.ReleaseOldestHeldSample();
          return sink_.receivedCount() >= before + 5;
        }));
        EXPECT_TRUE(SUCCEEDED(source.filter()->Pause()));
        // The graph stops its sinks first, then the source; the sink keeps what it holds.
        sink_.Stop();
        EXPECT_EQ(S_OK, source.filter()->Stop());
      }
      EXPECT_EQ(S_OK, source.DisconnectFrom(&sink_));
      EXPECT_EQ(nullptr, sink_.notifiedAllocator());
      EXPECT_EQ(S_OK, source.filter()->JoinFilterGraph(nullptr, nullptr));
      Watchdog watchdog("the filter's last Release", kCallBoundMs);
      source.Release();
    }
    sink_.ReleaseHeldSamples();
  }

  ComApartment com_;
  LoadedLibrary library_;
  DownstreamPin sink_;
  EventSinkGraph graph_;
  AM_MEDIA_TYPE partial_ = {};
};

TEST_P(HostPeersThreadedTest, ConnectStreamStopReleaseCyclesLeaveNothingBehind) {
  for (int cycle = 0; cycle < kWarmUpCycles && !HasFailure(); ++cycle) RunOneCycle(cycle);
  const ResourceCounts before = MeasureResources();
  const long framesBefore = sink_.receivedCount();
  for (int cycle = 0; cycle < kMeasuredCycles && !HasFailure(); ++cycle) RunOneCycle(kWarmUpCycles + cycle);
  const ResourceCounts after = MeasureResources();
  std::printf("[soak] %s sink, %d cycles, %ld frames: before: %s\n[soak] %s sink: after:  %s\n", GetParam().name,
              kMeasuredCycles, sink_.receivedCount() - framesBefore, Describe(before).c_str(), GetParam().name,
              Describe(after).c_str());
  EXPECT_EQ(before.gdiObjects, after.gdiObjects) << "GDI objects";
  EXPECT_EQ(before.handles, after.handles)
      << "kernel handles; new: " << DescribeNewHandles(before.openHandles, after.openHandles);
  EXPECT_LT(after.privateBytes - before.privateBytes, kMemorySlackBytes) << "private memory";

  EXPECT_EQ(S_OK, library_.CanUnloadNow()) << "the test left objects alive";
  EXPECT_EQ(1, sink_.refs()) << "references to the sink";
  EXPECT_EQ(1, graph_.refs()) << "references to the graph";
  EXPECT_FALSE(sink_.connected());
  EXPECT_EQ(0, sink_.endOfStreams());
  const LONG frameBytes = kWidth * kHeight * (IsEqualGUID(GetParam().expectedSubtype, MEDIASUBTYPE_RGB24) ? 3 : 4);
  for (const ReceivedSample& sample : sink_.Received()) {
    EXPECT_TRUE(sample.stamped) << "a sample without time stamps reached the sink";
    EXPECT_TRUE(sample.syncPoint);
    EXPECT_GE(sample.size, frameBytes);
  }
}

INSTANTIATE_TEST_SUITE_P(Hosts, HostPeersThreadedTest, ::testing::ValuesIn(kHostSinks),
                         [](const ::testing::TestParamInfo<HostSink>& info) { return std::string(info.param.name); });

}  // namespace
