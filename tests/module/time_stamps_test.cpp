#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <memory>
#include <vector>

#include "tests/module/module_test.h"
#include "tests/support/test_graph.h"
#include "tests/support/test_window.h"

namespace {

constexpr REFERENCE_TIME kUnitsPerMs = 10000;
// Delivery through the graph without a clock takes well under this.
constexpr REFERENCE_TIME kLatency = 150 * kUnitsPerMs;

REFERENCE_TIME Now() { return static_cast<REFERENCE_TIME>(GetTickCount64()) * kUnitsPerMs; }

// The filter in Wine's graph, grabbing a small screen rectangle (fast grabs), frames not kept.
// The stamps are the same paced or not; unpaced, the frames come without an interval between.
class TimeStampsThreadedTest : public ModuleThreadedTest {
 protected:
  void SetUp() override {
    ModuleThreadedTest::SetUp();
    graph_ = std::make_unique<TestGraph>(library_);
    ASSERT_NE(nullptr, graph_->source());
    graph_->KeepPixels(false);
    RECT small = {0, 0, 64, 48};
    ASSERT_EQ(S_OK, graph_->WriteLong(L"CaptureArea", 1));
    ASSERT_EQ(S_OK, graph_->WritePointer(L"CaptureValue", &small));
    ASSERT_EQ(S_OK, graph_->WriteBool(L"FramePacing", false));
  }
  void TearDown() override {
    graph_.reset();
    ModuleThreadedTest::TearDown();
  }
  // Run until count more frames arrived, then Stop; the frames of this run.
  std::vector<DeliveredFrame> RunFor(size_t count) {
    graph_->ClearFrames();
    EXPECT_TRUE(SUCCEEDED(graph_->Run()));
    EXPECT_TRUE(graph_->WaitForFrames(count));
    EXPECT_EQ(S_OK, graph_->Stop());
    return graph_->Frames();
  }

  std::unique_ptr<TestGraph> graph_;
};

TEST_F(TimeStampsThreadedTest, ModeZeroCountsFrameIntervalsAcrossStopAndRun) {
  ASSERT_EQ(S_OK, graph_->WriteLong(L"FrameRate", 1));  // FrameInterval 10,000,000
  const REFERENCE_TIME interval = 10000000;
  ASSERT_EQ(S_OK, graph_->Connect(0));

  const auto first = RunFor(4);
  ASSERT_GE(first.size(), 4u);
  for (size_t i = 0; i < first.size(); ++i) {
    ASSERT_TRUE(first[i].hasTime);
    EXPECT_TRUE(first[i].syncPoint);
    EXPECT_EQ(static_cast<REFERENCE_TIME>(i) * interval, first[i].start) << i;
    EXPECT_EQ(first[i].start + interval, first[i].end) << i;
  }

  // Run again: the count goes on from where it stood. The graph pauses before it runs, and
  // that short pause is taken out of the stamps, so they sit a little below a multiple.
  const auto second = RunFor(3);
  ASSERT_GE(second.size(), 3u);
  const REFERENCE_TIME s0 = second[0].start;
  const REFERENCE_TIME k = (s0 + interval - 1) / interval;
  EXPECT_GE(k, static_cast<REFERENCE_TIME>(first.size())) << "not restarted from 0";
  EXPECT_LT(k * interval - s0, 1000 * kUnitsPerMs) << "only the pause before running is taken out";
  for (size_t i = 0; i < second.size(); ++i) {
    EXPECT_EQ(s0 + static_cast<REFERENCE_TIME>(i) * interval, second[i].start) << i;
    EXPECT_EQ(second[i].start + interval, second[i].end) << i;
  }
}

TEST_F(TimeStampsThreadedTest, ModeOneFramesFollowEachOtherFromZero) {
  ASSERT_EQ(S_OK, graph_->WriteLong(L"FrameRateMode", 1));
  ASSERT_EQ(S_OK, graph_->Connect(0));
  const REFERENCE_TIME before = Now();
  const auto frames = RunFor(6);
  const REFERENCE_TIME elapsed = Now() - before;
  ASSERT_GE(frames.size(), 6u);
  EXPECT_EQ(0, frames[0].start);
  for (size_t i = 0; i < frames.size(); ++i) {
    ASSERT_TRUE(frames[i].hasTime);
    EXPECT_GE(frames[i].end, frames[i].start);
    EXPECT_EQ(0, (frames[i].end - frames[i].start) % (2 * kUnitsPerMs)) << "twice a whole number of ticks";
    if (i > 0) {
      EXPECT_EQ(frames[i - 1].end, frames[i].start) << i;
    }
  }
  // Each grab's two ticks may straddle one tick more than the grab took.
  EXPECT_LE(frames.back().end, 2 * elapsed + 2 * kUnitsPerMs * static_cast<REFERENCE_TIME>(frames.size()))
      << "no frame lasts more than twice its grab";
}

TEST_F(TimeStampsThreadedTest, ModeTwoStampsAreTheTicksAroundEachGrab) {
  ASSERT_EQ(S_OK, graph_->WriteLong(L"FrameRateMode", 2));
  ASSERT_EQ(S_OK, graph_->Connect(0));
  const REFERENCE_TIME before = Now();
  const auto frames = RunFor(5);
  ASSERT_GE(frames.size(), 5u);
  for (size_t i = 0; i < frames.size(); ++i) {
    ASSERT_TRUE(frames[i].hasTime);
    EXPECT_EQ(0, frames[i].start % kUnitsPerMs);
    EXPECT_EQ(0, frames[i].end % kUnitsPerMs);
    EXPECT_LE(before, frames[i].start);
    EXPECT_LE(frames[i].start, frames[i].end);
    EXPECT_LE(frames[i].end, static_cast<REFERENCE_TIME>(frames[i].arrival) * kUnitsPerMs);
    if (i > 0) {
      EXPECT_LE(frames[i - 1].end, frames[i].start);
    }
  }
}

// How far behind the tick time of its arrival each frame is stamped (mode 2).
REFERENCE_TIME Lag(const DeliveredFrame& frame) {
  return static_cast<REFERENCE_TIME>(frame.arrival) * kUnitsPerMs - frame.end;
}

// The graph runs straight from Stopped, so its first frame may well be made while running:
// a later pause counts all the same.
TEST_F(TimeStampsThreadedTest, APauseWhileRunningIsTakenOutOfLaterStamps) {
  ASSERT_EQ(S_OK, graph_->WriteLong(L"FrameRateMode", 2));
  ASSERT_EQ(S_OK, graph_->Connect(0));
  ASSERT_TRUE(SUCCEEDED(graph_->Run()));
  ASSERT_TRUE(graph_->WaitForFrames(3));
  ASSERT_TRUE(SUCCEEDED(graph_->Pause()));
  const ULONGLONG pausedAt = GetTickCount64();
  PumpMessagesFor(500);
  const ULONGLONG resumedAt = GetTickCount64();
  ASSERT_TRUE(SUCCEEDED(graph_->Run()));
  const size_t beforeResume = graph_->FrameCount();
  ASSERT_TRUE(graph_->WaitForFrames(beforeResume + 3));
  ASSERT_EQ(S_OK, graph_->Stop());

  const REFERENCE_TIME pause = static_cast<REFERENCE_TIME>(resumedAt - pausedAt) * kUnitsPerMs;
  size_t later = 0;
  for (const DeliveredFrame& frame : graph_->Frames()) {
    if (frame.arrival < pausedAt) {
      EXPECT_LE(Lag(frame), kLatency);
    } else if (frame.arrival >= resumedAt) {
      ++later;
      EXPECT_GE(Lag(frame), pause - 2 * kUnitsPerMs) << "the whole pause is taken out";
      EXPECT_LE(Lag(frame), pause + kLatency);
    }
  }
  EXPECT_GE(later, 3u);
}

TEST_F(TimeStampsThreadedTest, TheFirstPauseIsNotTakenOut) {
  ASSERT_EQ(S_OK, graph_->WriteLong(L"FrameRateMode", 2));
  ASSERT_EQ(S_OK, graph_->Connect(0));
  ASSERT_TRUE(SUCCEEDED(graph_->Pause()));
  PumpMessagesFor(500);
  ASSERT_TRUE(SUCCEEDED(graph_->Run()));
  ASSERT_TRUE(graph_->WaitForFrames(4));
  ASSERT_EQ(S_OK, graph_->Stop());
  for (const DeliveredFrame& frame : graph_->Frames()) {
    EXPECT_GE(Lag(frame), 0);
    EXPECT_LE(Lag(frame), kLatency);
  }
}

TEST_F(TimeStampsThreadedTest, GetStateAnswersCantCueOnlyWhilePaused) {
  ASSERT_EQ(S_OK, graph_->Connect(0));
  IBaseFilter* source = graph_->source();
  FILTER_STATE state = State_Running;
  EXPECT_EQ(S_OK, source->GetState(0, &state));
  EXPECT_EQ(State_Stopped, state);
  EXPECT_EQ(E_POINTER, source->GetState(0, nullptr));

  ASSERT_TRUE(SUCCEEDED(graph_->Pause()));
  EXPECT_EQ(VFW_S_CANT_CUE, source->GetState(INFINITE, &state));
  EXPECT_EQ(State_Paused, state);
  OAFilterState graphState = State_Stopped;
  EXPECT_EQ(VFW_S_CANT_CUE, graph_->control()->GetState(0, &graphState)) << "the graph sees a live source";

  ASSERT_TRUE(SUCCEEDED(graph_->Run()));
  EXPECT_EQ(S_OK, source->GetState(0, &state));
  EXPECT_EQ(State_Running, state);
  ASSERT_TRUE(SUCCEEDED(graph_->Pause()));
  EXPECT_EQ(VFW_S_CANT_CUE, source->GetState(0, &state));
  ASSERT_EQ(S_OK, graph_->Stop());
  EXPECT_EQ(S_OK, source->GetState(0, &state));
  EXPECT_EQ(State_Stopped, state);

  ComPtr<IQualityControl> quality;
  ASSERT_EQ(S_OK, graph_->sourcePin()->QueryInterface(IID_IQualityControl, quality.put_void()));
  Quality message = {Famine, 500, -10000000, 0};
  EXPECT_EQ(E_FAIL, quality->Notify(source, message)) << "quality messages are refused";
}

}  // namespace
