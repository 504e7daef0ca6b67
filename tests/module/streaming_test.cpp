#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include "tests/support/capture_graph.h"
#include "tests/support/library.h"

namespace {

class StreamingThreadedTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(library_.loaded()); }
  void TearDown() override { EXPECT_EQ(S_OK, library_.CanUnloadNow()) << "the test left objects alive"; }
  ComApartment com_;
  LoadedLibrary library_;
};

TEST_F(StreamingThreadedTest, FramesFlowThroughARealGraphAndStopCleanly) {
  {
    CaptureGraph graph(library_);
    ASSERT_NE(nullptr, graph.source());
    ASSERT_EQ(S_OK, graph.Connect(0));
    ASSERT_TRUE(SUCCEEDED(graph.Run())) << "a live source may leave the transition pending (S_FALSE)";
    EXPECT_TRUE(graph.WaitForFrames(5));
    EXPECT_EQ(S_OK, graph.Stop());
    const auto frames = graph.Frames();
    ASSERT_GE(frames.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
      EXPECT_TRUE(frames[i].hasTime);
      EXPECT_TRUE(frames[i].syncPoint);
      EXPECT_EQ(static_cast<REFERENCE_TIME>(i) * 1000000, frames[i].start) << i;
      EXPECT_EQ(frames[i].start + 1000000, frames[i].end);
    }
  }
}

}  // namespace
