#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <cstring>

#include "tests/module/module_test.h"
#include "tests/support/capture_graph.h"
#include "tests/support/test_dib.h"
#include "tests/support/test_window.h"

namespace {

using StreamingThreadedTest = ModuleThreadedTest;

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

const DibLayout kLayouts[] = {DibLayout::Rgb32, DibLayout::Rgb24, DibLayout::Rgb565, DibLayout::Rgb555,
                              DibLayout::Palette8};

// A delivered frame read back in its layout; an 8-bit frame takes the colour table that the
// grab wrote into the source pin's own connection type.
bool Decode(const DeliveredFrame& frame, CaptureGraph& graph, DibLayout layout, TestDib* dib) {
  if (frame.pixels.size() < dib->bitsBytes()) return false;
  std::memcpy(dib->bits(), frame.pixels.data(), dib->bitsBytes());
  if (layout == DibLayout::Palette8) {
    AM_MEDIA_TYPE type = graph.ConnectedType();
    const bool hasPalette = type.pbFormat && type.cbFormat >= sizeof(VIDEOINFOHEADER) + 256 * sizeof(RGBQUAD);
    if (hasPalette) {
      std::memcpy(dib->info()->bmiColors, type.pbFormat + sizeof(VIDEOINFOHEADER), 256 * sizeof(RGBQUAD));
    }
    FreeMediaTypeContents(type);
    if (!hasPalette) return false;
  }
  return true;
}

// Every format, every area that names a place (1 a screen rectangle, 2 a window, 3 a
// rectangle of a window), with and without scaling: the frames show the window's quadrants.
TEST_F(StreamingThreadedTest, FramesShowTheWindowInEveryFormatAreaAndScale) {
  const RECT screenRect = {200, 120, 360, 240};  // 160 x 120
  WindowThread window(screenRect);
  ASSERT_TRUE(window.shown());
  const HWND hwnd = window.window().handle();
  const LONG w = 160, h = 120;

  for (LONG area : {1, 2, 3}) {
    // The captured rectangle in window coordinates, and the window points looked at.
    RECT region = {0, 0, w, h};
    if (area == 2) region = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (area == 3) region = {40, 30, 120, 90};
    const LONG centreX = (region.left + region.right) / 2, centreY = (region.top + region.bottom) / 2;
    const POINT looks[] = {{centreX - 20, centreY - 15}, {centreX + 20, centreY - 15},
                           {centreX - 20, centreY + 15}, {centreX + 20, centreY + 15}};
    const POINT windowLooks[] = {{w / 4, h / 4}, {3 * w / 4, h / 4}, {w / 4, 3 * h / 4}, {3 * w / 4, 3 * h / 4}};
    const POINT* points = area == 2 ? windowLooks : looks;
    const LONG regionW = region.right - region.left, regionH = region.bottom - region.top;

    for (bool scaled : {false, true}) {
      const LONG frameW = scaled ? regionW / 2 : regionW, frameH = scaled ? regionH / 2 : regionH;
      for (int position = 0; position < 5; ++position) {
        const DibLayout layout = kLayouts[position];
        SCOPED_TRACE(testing::Message() << "area " << area << (scaled ? " scaled " : " ") << LayoutName(layout));
        CaptureGraph graph(library_);
        ASSERT_EQ(S_OK, graph.WriteLong(L"CaptureArea", area));
        RECT screenValue = screenRect;
        WindowRegion regionValue = {hwnd, region.left, region.top, region.right, region.bottom};
        if (area == 1) {
          ASSERT_EQ(S_OK, graph.WritePointer(L"CaptureValue", &screenValue));
        }
        if (area == 2) {
          ASSERT_EQ(S_OK, graph.WriteLong(L"CaptureValue", static_cast<LONG>(reinterpret_cast<LONG_PTR>(hwnd))));
        }
        if (area == 3) {
          ASSERT_EQ(S_OK, graph.WritePointer(L"CaptureValue", &regionValue));
        }
        LONG dimensions[2] = {frameW, frameH};
        if (scaled) {
          ASSERT_EQ(S_OK, graph.WritePointer(L"OutputDimensions", dimensions));
        }

        ASSERT_EQ(S_OK, graph.Connect(position));
        ASSERT_TRUE(SUCCEEDED(graph.Run()));
        ASSERT_TRUE(graph.WaitForFrames(2));
        ASSERT_EQ(S_OK, graph.Stop());

        TestDib dib(layout, frameW, frameH);
        ASSERT_TRUE(Decode(graph.Frames()[1], graph, layout, &dib));
        for (int i = 0; i < 4; ++i) {
          const LONG x = (points[i].x - region.left) * frameW / regionW;
          const LONG y = (points[i].y - region.top) * frameH / regionH;
          const COLORREF expected = window.window().ColorAt(points[i].x, points[i].y);
          EXPECT_LE(ColorDistance(expected, dib.Pixel(x, y)), dib.Tolerance())
              << "frame point " << x << "," << y << " shows 0x" << std::hex << dib.Pixel(x, y) << " for 0x" << expected;
        }
      }
    }
  }
}

}  // namespace
