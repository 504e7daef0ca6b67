#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <optional>

#include "capture/desktop_capture.h"
#include "tests/support/test_dib.h"
#include "tests/support/test_window.h"

namespace {

// A device context attribute that a newly created one does not have: it shows whether the
// memory device context was re-created.
const COLORREF kMarkColor = RGB(1, 2, 3);

void Mark(DesktopCapture& capture) { ::SetBkColor(capture.MemoryDC(), kMarkColor); }
bool Marked(DesktopCapture& capture) { return ::GetBkColor(capture.MemoryDC()) == kMarkColor; }

// Every area grabs through the whole screen's device context, which belongs to the desktop
// window and uses screen coordinates on every monitor.
bool HoldsScreenContexts(DesktopCapture& capture) {
  return capture.ScreenDC() && ::WindowFromDC(capture.ScreenDC()) == ::GetDesktopWindow() &&
         ::GetObjectType(capture.MemoryDC()) == OBJ_MEMDC;
}

TEST(DesktopCaptureTest, StartsWithTheDefaultsAndTheDisplaySize) {
  DesktopCapture capture;
  const CaptureSettings& s = capture.Settings();
  EXPECT_FALSE(s.IncludeCursor);
  EXPECT_FALSE(s.CaptureTransparentWindows);
  EXPECT_EQ(1000000, s.FrameInterval);
  EXPECT_EQ(0, s.FrameRateMode);
  EXPECT_EQ(0, s.CaptureArea);
  EXPECT_EQ(nullptr, s.CaptureWindow);
  EXPECT_FALSE(s.OutputSize.has_value());
  EXPECT_EQ(0, s.InterpolationMode);

  const LONG width = ::GetSystemMetrics(SM_CXSCREEN);
  const LONG height = ::GetSystemMetrics(SM_CYSCREEN);
  EXPECT_EQ(0, s.CaptureRect.left);
  EXPECT_EQ(0, s.CaptureRect.top);
  EXPECT_EQ(width, s.CaptureRect.right);
  EXPECT_EQ(height, s.CaptureRect.bottom);
  EXPECT_EQ(width, s.CaptureRect.width);
  EXPECT_EQ(height, s.CaptureRect.height);
  EXPECT_EQ(width, capture.FrameSize().width);
  EXPECT_EQ(height, capture.FrameSize().height);
  EXPECT_TRUE(HoldsScreenContexts(capture));
}

TEST(DesktopCaptureTest, SwitchingTheAreaReplacesTheDeviceContextsOnlyOnAChange) {
  DesktopCapture capture;
  Mark(capture);
  EXPECT_EQ(S_OK, capture.SwitchCaptureArea(0));
  EXPECT_TRUE(Marked(capture));

  EXPECT_EQ(S_OK, capture.SwitchCaptureArea(1));
  EXPECT_EQ(1, capture.Settings().CaptureArea);
  EXPECT_FALSE(Marked(capture));
  EXPECT_TRUE(HoldsScreenContexts(capture));

  for (LONG area : {4, 5, 2, 3}) {
    EXPECT_EQ(S_OK, capture.SwitchCaptureArea(area));
    EXPECT_TRUE(HoldsScreenContexts(capture)) << area;
  }
  Mark(capture);
  EXPECT_EQ(S_OK, capture.SwitchCaptureArea(3));
  EXPECT_TRUE(Marked(capture));
  EXPECT_EQ(S_OK, capture.SwitchCaptureArea(0));
  EXPECT_TRUE(HoldsScreenContexts(capture));
}

// Grabs with the held settings: where each area takes its picture from.
class DesktopCaptureGrabTest : public ::testing::Test {
 protected:
  DesktopCaptureGrabTest() : window_(TestWindow::Quadrants(RECT{300, 200, 460, 300})) {}
  void SetUp() override { ASSERT_TRUE(window_.WaitUntilShown()); }

  // The window's colours where the grab should show them, offset by its corner in the grab.
  ::testing::AssertionResult ShowsWindowAt(const TestDib& dib, LONG left, LONG top) {
    for (LONG y = 0; y < window_.height(); y += 3) {
      for (LONG x = 0; x < window_.width(); x += 3) {
        const COLORREF got = dib.Pixel(left + x, top + y);
        if (ColorDistance(got, window_.ColorAt(x, y)) > dib.Tolerance()) {
          return ::testing::AssertionFailure() << "window point (" << x << ", " << y << ") differs";
        }
      }
    }
    return ::testing::AssertionSuccess();
  }

  void Grab(TestDib& dib) { capture_.Grab(dib.bits(), dib.bitsBytes(), dib.info(), dib.infoBytes()); }

  TestWindow window_;
  DesktopCapture capture_;
};

TEST_F(DesktopCaptureGrabTest, AreaZeroGrabsTheWholeDisplay) {
  const FrameSize size = capture_.FrameSize();
  TestDib dib(DibLayout::Rgb24, size.width, size.height);
  Grab(dib);
  EXPECT_TRUE(ShowsWindowAt(dib, 300, 200));
}

TEST_F(DesktopCaptureGrabTest, AreaOneGrabsTheScreenRectangle) {
  capture_.SwitchCaptureArea(1);
  capture_.Settings().CaptureRect.Set(100, 50, 740, 530);
  TestDib dib(DibLayout::Rgb32, 640, 480);
  Grab(dib);
  EXPECT_TRUE(ShowsWindowAt(dib, 200, 150));
}

// A monitor that is not there gives frames all the same: black ones, without the cursor, of
// the primary monitor's size.
TEST_F(DesktopCaptureGrabTest, AMissingMonitorGivesBlackFramesOfThePrimarySize) {
  capture_.SwitchCaptureArea(kAreaMonitor);
  ASSERT_EQ(S_OK, capture_.SelectMonitor(SourceLimits::kMaxMonitor));
  capture_.Settings().IncludeCursor = true;
  const FrameSize size = capture_.FrameSize();
  EXPECT_EQ(::GetSystemMetrics(SM_CXSCREEN), size.width);
  EXPECT_EQ(::GetSystemMetrics(SM_CYSCREEN), size.height);
  TestDib dib(DibLayout::Rgb32, size.width, size.height);
  EXPECT_EQ(S_OK, capture_.Grab(dib.bits(), dib.bitsBytes(), dib.info(), dib.infoBytes()));
  for (LONG y = 0; y < size.height; y += 7) {
    for (LONG x = 0; x < size.width; x += 7) ASSERT_EQ(RGB(0, 0, 0), dib.Pixel(x, y)) << x << ", " << y;
  }
}

TEST_F(DesktopCaptureGrabTest, AreaTwoPrintsTheWindowAtTheCornerOfADisplaySizedGrab) {
  capture_.SwitchCaptureArea(2);
  capture_.Settings().CaptureWindow = window_.handle();
  const FrameSize size = capture_.FrameSize();
  TestDib dib(DibLayout::Rgb32, size.width, size.height);
  Grab(dib);
  EXPECT_TRUE(ShowsWindowAt(dib, 0, 0));
}

TEST_F(DesktopCaptureGrabTest, WindowIsUsedOnlyInTheWindowAreas) {
  // Area 1 with a window set still copies the screen.
  capture_.SwitchCaptureArea(1);
  capture_.Settings().CaptureWindow = window_.handle();
  capture_.Settings().CaptureRect.Set(280, 190, 480, 310);
  TestDib screen(DibLayout::Rgb32, 200, 120);
  Grab(screen);
  EXPECT_TRUE(ShowsWindowAt(screen, 20, 10));

  capture_.SwitchCaptureArea(3);
  capture_.Settings().CaptureRect.Set(0, 0, 160, 100);
  TestDib printed(DibLayout::Rgb32, 160, 100);
  Grab(printed);
  EXPECT_TRUE(ShowsWindowAt(printed, 0, 0));
}

// A capture that grabs on through changes of area, rectangle, layout and output size gives,
// byte for byte, what a new capture with the same settings gives: nothing of what its kept
// bitmaps held before a change shows after it.
TEST_F(DesktopCaptureGrabTest, GrabsThroughSettingChangesMatchThoseOfANewCapture) {
  const LONG screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
  const LONG screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
  const RECT display = {0, 0, screenWidth, screenHeight};
  const RECT aroundWindow = {280, 190, 480, 310};
  struct Step {
    LONG area;
    RECT rect;
    DibLayout layout;
    std::optional<FrameSize> output;
    bool releaseFirst;
  };
  const Step steps[] = {
      {0, display, DibLayout::Rgb32, std::nullopt, false},
      {1, aroundWindow, DibLayout::Rgb32, std::nullopt, false},
      // The same size past the screen's corner.
      {1, {screenWidth - 100, screenHeight - 60, screenWidth + 100, screenHeight + 60}, DibLayout::Rgb32,
       std::nullopt, false},
      // The window is smaller than the region: the rest is black.
      {3, {0, 0, 200, 120}, DibLayout::Rgb32, std::nullopt, false},
      {2, display, DibLayout::Rgb565, std::nullopt, false},
      {1, aroundWindow, DibLayout::Rgb565, FrameSize{100, 60}, false},
      {1, aroundWindow, DibLayout::Rgb555, std::nullopt, true},
      {1, aroundWindow, DibLayout::Rgb555Masks, std::nullopt, false},
      {0, display, DibLayout::Rgb24, std::nullopt, false},
  };
  auto apply = [&](DesktopCapture& capture, const Step& step) {
    SectionLockHolder hold(&capture.CaptureLock());
    EXPECT_EQ(S_OK, capture.SwitchCaptureArea(step.area));
    CaptureSettings& settings = capture.Settings();
    settings.CaptureRect.Set(step.rect.left, step.rect.top, step.rect.right, step.rect.bottom);
    settings.CaptureWindow = window_.handle();
    settings.OutputSize = step.output;
  };
  int index = 0;
  for (const Step& step : steps) {
    if (step.releaseFirst) capture_.ReleaseSurfaces();
    apply(capture_, step);
    DesktopCapture fresh;
    apply(fresh, step);
    const FrameSize size = capture_.FrameSize();
    TestDib kept(step.layout, size.width, size.height);
    TestDib made(step.layout, size.width, size.height);
    Grab(kept);
    fresh.Grab(made.bits(), made.bitsBytes(), made.info(), made.infoBytes());
    EXPECT_FALSE(kept.Untouched()) << "step " << index;
    EXPECT_TRUE(std::equal(made.bits(), made.bits() + made.bitsBytes(), kept.bits())) << "step " << index;
    ++index;
  }
}

}  // namespace
