// On the display of several monitors (scripts/common.sh; tests/monitors/run.sh runs this
// program there): the primary monitor 1024x768 at 0,0, one of 800x600 left of it at -800,0 and
// one of 640x480 above it at 0,-480. Windows of known colours on each monitor, across the
// border of two and partly over a part no monitor shows.

#include <gtest/gtest.h>

#include <windows.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "capture/desktop_capture.h"
#include "base/gdi_resources.h"
#include "base/monitors.h"
#include "format/media_type.h"
#include "module/dorvantel.h"
#include "tests/support/test_graph.h"
#include "tests/support/test_dib.h"
#include "tests/support/test_window.h"

using namespace dorvantel;

namespace {

const RECT kPrimary = {0, 0, 1024, 768};
const RECT kLeft = {-800, 0, 0, 600};
const RECT kAbove = {0, -480, 640, 0};
const RECT kDesktop = {-800, -480, 1024, 768};

::testing::AssertionResult SameRect(const RECT& expected, const RECT& actual) {
  if (::EqualRect(&expected, &actual)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "(" << actual.left << "," << actual.top << ")-(" << actual.right << ","
                                       << actual.bottom << ") instead of (" << expected.left << "," << expected.top
                                       << ")-(" << expected.right << "," << expected.bottom << ")";
}

size_t MonitorCount() {
  MonitorLayout layout;
  layout.Read();
  return layout.Count();
}

// Changes the display's layout with scripts/monitor-layout (action: "without-left" or
// "standard") and waits, answering messages, until Wine reports count monitors.
bool ChangeLayout(const wchar_t* action, size_t count) {
  const char* script = std::getenv("DORVANTEL_MONITOR_LAYOUT");
  if (!script) return false;
  std::wstring path(script, script + std::char_traits<char>::length(script));
  std::wstring command = L"\"" + path + L"\" " + action;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(path.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  if (process.hProcess) ::CloseHandle(process.hProcess);
  if (process.hThread) ::CloseHandle(process.hThread);
  const ULONGLONG start = ::GetTickCount64();
  while (::GetTickCount64() - start < 15000) {
    PumpMessagesFor(100);
    if (MonitorCount() == count) return true;
  }
  return false;
}

TEST(MonitorLayoutTest, ThePrimaryIsOneThenLeftToRightThenTopToBottom) {
  MonitorLayout layout;
  ASSERT_TRUE(layout.Read());
  ASSERT_EQ(3u, layout.Count());
  const RECT expected[] = {kPrimary, kLeft, kAbove};
  for (LONG number = 1; number <= 3; ++number) {
    const Monitor* monitor = layout.Find(number);
    ASSERT_NE(nullptr, monitor);
    EXPECT_EQ(number, monitor->number);
    EXPECT_TRUE(SameRect(expected[number - 1], monitor->rect)) << number;
    EXPECT_EQ(number == 1, monitor->primary) << number;
    EXPECT_EQ(0, std::wcsncmp(L"\\\\.\\DISPLAY", monitor->device, 11)) << number;
  }
  EXPECT_STRNE(layout.Find(2)->device, layout.Find(3)->device);
  EXPECT_EQ(nullptr, layout.Find(0));
  EXPECT_EQ(nullptr, layout.Find(4));
  EXPECT_TRUE(SameRect(kDesktop, layout.Bounds()));
  // The lines the programs list.
  EXPECT_EQ(L"1: 1024x768 at 0,0 (" + std::wstring(layout.Find(1)->device) + L", primary)",
            DescribeMonitor(*layout.Find(1)));
  EXPECT_EQ(L"2: 800x600 at -800,0 (" + std::wstring(layout.Find(2)->device) + L")", DescribeMonitor(*layout.Find(2)));
  EXPECT_EQ(L"3: 640x480 at 0,-480 (" + std::wstring(layout.Find(3)->device) + L")", DescribeMonitor(*layout.Find(3)));
}

// Grabs of the filter's capture with windows of known colours on every monitor.
class MonitorGrabTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    left_ = new TestWindow(TestWindow::Quadrants(RECT{-700, 100, -540, 200}));
    above_ = new TestWindow(TestWindow::Quadrants(RECT{100, -400, 260, -300}));
    primary_ = new TestWindow(TestWindow::Quadrants(RECT{300, 200, 460, 300}));
    // Across the border of the left monitor and the primary.
    across_ = new TestWindow(TestWindow::Quadrants(RECT{-80, 300, 80, 400}));
    // Its lower half below the left monitor, where no monitor shows anything.
    offMonitor_ = new TestWindow(TestWindow::Quadrants(RECT{-400, 550, -240, 650}));
  }
  static void TearDownTestSuite() {
    for (TestWindow** window : {&left_, &above_, &primary_, &across_, &offMonitor_}) {
      delete *window;
      *window = nullptr;
    }
  }
  void SetUp() override {
    ASSERT_EQ(3u, MonitorCount()) << "the display does not have its three monitors";
    for (TestWindow* window : {left_, above_, primary_, across_, offMonitor_}) ASSERT_TRUE(window->WaitUntilShown());
  }

  // Grabs with the capture's settings into a 32-bit frame of its size.
  TestDib Grab(DesktopCapture& capture) {
    const FrameSize size = capture.FrameSize();
    TestDib dib(DibLayout::Rgb32, size.width, size.height);
    EXPECT_EQ(S_OK, capture.Grab(dib.bits(), dib.bitsBytes(), dib.info(), dib.infoBytes()));
    return dib;
  }

  // Grabs into a DIB section of a 32-bit frame's layout, as the pin's own allocator gives its
  // samples, and reads the section's pixels into the frame.
  TestDib GrabIntoSection(DesktopCapture& capture) {
    const FrameSize size = capture.FrameSize();
    TestDib dib(DibLayout::Rgb32, size.width, size.height);
    void* bits = nullptr;
    BitmapHandle section(::CreateDIBSection(nullptr, dib.info(), DIB_RGB_COLORS, &bits, nullptr, 0));
    EXPECT_TRUE(section);
    if (!section) return dib;
    EXPECT_EQ(S_OK, capture.Grab(static_cast<BYTE*>(bits), dib.bitsBytes(), dib.info(), dib.infoBytes(), section.get()));
    std::memcpy(dib.bits(), bits, dib.bitsBytes());
    return dib;
  }

  // The frame shows window at its place on the screen, the frame's corner being at the
  // screen point corner; with belowY, the window's rows from that screen row on are black.
  // Rows below the frame's last are not looked at.
  static ::testing::AssertionResult Shows(const TestDib& dib, POINT corner, const TestWindow& window,
                                          LONG belowY = LONG_MAX) {
    const RECT& r = window.screenRect();
    for (LONG y = 0; y < window.height() && r.top + y - corner.y < dib.height(); y += 3) {
      for (LONG x = 0; x < window.width(); x += 3) {
        const COLORREF expected = r.top + y >= belowY ? RGB(0, 0, 0) : window.ColorAt(x, y);
        const COLORREF got = dib.Pixel(r.left + x - corner.x, r.top + y - corner.y);
        if (ColorDistance(got, expected) > dib.Tolerance()) {
          return ::testing::AssertionFailure()
                 << "window point (" << x << ", " << y << ") shows " << std::hex << got << " instead of " << expected;
        }
      }
    }
    return ::testing::AssertionSuccess();
  }

  static TestWindow* left_;
  static TestWindow* above_;
  static TestWindow* primary_;
  static TestWindow* across_;
  static TestWindow* offMonitor_;
};

TestWindow* MonitorGrabTest::left_ = nullptr;
TestWindow* MonitorGrabTest::above_ = nullptr;
TestWindow* MonitorGrabTest::primary_ = nullptr;
TestWindow* MonitorGrabTest::across_ = nullptr;
TestWindow* MonitorGrabTest::offMonitor_ = nullptr;

// Screen rectangles are screen coordinates on every monitor, negative ones included; a
// rectangle across two monitors shows both parts; what no monitor shows is black.
TEST_F(MonitorGrabTest, RectanglesAreScreenCoordinatesOnEveryMonitor) {
  DesktopCapture capture;
  capture.SwitchCaptureArea(kAreaScreenRectangle);
  const RECT rectangles[] = {{-720, 90, -500, 220}, {80, -420, 300, -280}, {280, 190, 480, 310}, {-100, 290, 100, 410}};
  const TestWindow* windows[] = {left_, above_, primary_, across_};
  for (size_t i = 0; i < 4; ++i) {
    const RECT& r = rectangles[i];
    capture.Settings().CaptureRect.Set(r.left, r.top, r.right, r.bottom);
    const TestDib dib = Grab(capture);
    EXPECT_TRUE(Shows(dib, POINT{r.left, r.top}, *windows[i])) << "rectangle " << i;
  }
  capture.Settings().CaptureRect.Set(-420, 540, -220, 660);
  EXPECT_TRUE(Shows(Grab(capture), POINT{-420, 540}, *offMonitor_, kLeft.bottom));
}

// Area 0 is the primary monitor, area 4 a monitor by its number, area 5 every monitor.
TEST_F(MonitorGrabTest, TheDisplayAMonitorAndTheDesktopHaveTheirSizeAndPixels) {
  DesktopCapture capture;
  EXPECT_EQ(1024, capture.FrameSize().width);
  EXPECT_EQ(768, capture.FrameSize().height);
  EXPECT_TRUE(Shows(Grab(capture), POINT{0, 0}, *primary_));

  capture.SwitchCaptureArea(kAreaMonitor);
  ASSERT_EQ(S_OK, capture.SelectMonitor(2));
  EXPECT_EQ(800, capture.FrameSize().width);
  EXPECT_EQ(600, capture.FrameSize().height);
  // Left of the screen's origin the copy goes in bands of rows: the window across the
  // monitor's lower edge lies in the last, shorter band; both ways into the frame agree.
  TestDib left = Grab(capture);
  EXPECT_TRUE(Shows(left, POINT{kLeft.left, kLeft.top}, *left_));
  EXPECT_TRUE(Shows(left, POINT{kLeft.left, kLeft.top}, *offMonitor_));
  const TestDib leftInSection = GrabIntoSection(capture);
  EXPECT_TRUE(Shows(leftInSection, POINT{kLeft.left, kLeft.top}, *left_));
  EXPECT_TRUE(Shows(leftInSection, POINT{kLeft.left, kLeft.top}, *offMonitor_));
  ASSERT_EQ(S_OK, capture.SelectMonitor(3));
  EXPECT_EQ(640, capture.FrameSize().width);
  EXPECT_TRUE(Shows(Grab(capture), POINT{kAbove.left, kAbove.top}, *above_));

  capture.SwitchCaptureArea(kAreaDesktop);
  EXPECT_EQ(1824, capture.FrameSize().width);
  EXPECT_EQ(1248, capture.FrameSize().height);
  const TestDib desktop = Grab(capture);
  const POINT corner = {kDesktop.left, kDesktop.top};
  for (const TestWindow* window : {left_, above_, primary_, across_}) EXPECT_TRUE(Shows(desktop, corner, *window));
  EXPECT_TRUE(Shows(desktop, corner, *offMonitor_, kLeft.bottom));
  // The corners of the desktop that no monitor shows.
  EXPECT_EQ(RGB(0, 0, 0), desktop.Pixel(10, 10));
  EXPECT_EQ(RGB(0, 0, 0), desktop.Pixel(10, 1240));
  EXPECT_EQ(RGB(0, 0, 0), desktop.Pixel(1800, 10));
}

// The cursor is drawn where it is on the left monitor, in that monitor's frame.
TEST_F(MonitorGrabTest, TheCursorIsDrawnOnTheLeftMonitor) {
  TestCursor cursor(POINT{5, 7}, RECT{4, 6, 12, 14});
  left_->UseCursor(cursor.handle());
  const POINT pointer = {40, 30};
  ASSERT_TRUE(left_->PointAt(pointer.x, pointer.y));
  DesktopCapture capture;
  capture.SwitchCaptureArea(kAreaMonitor);
  capture.SelectMonitor(2);
  capture.Settings().IncludeCursor = true;
  const TestDib dib = Grab(capture);
  left_->UseCursor(nullptr);
  const RECT& r = left_->screenRect();
  // The block's pixels in the frame: the pointer less the hotspot, from the monitor's corner.
  const LONG blockLeft = r.left + pointer.x - 5 + 4 - kLeft.left;
  const LONG blockTop = r.top + pointer.y - 7 + 6 - kLeft.top;
  for (LONG y = 0; y < 8; ++y) {
    for (LONG x = 0; x < 8; ++x) ASSERT_EQ(RGB(0, 0, 0), dib.Pixel(blockLeft + x, blockTop + y)) << x << ", " << y;
  }
  EXPECT_EQ(left_->ColorAt(pointer.x - 5 + 3, pointer.y - 7 + 5), dib.Pixel(blockLeft - 1, blockTop - 1));
}

// A host streaming the left monitor through Wine's graph while that monitor is switched off
// and on again: frames of the connected size go on (black while the monitor is off), and the
// graph stops.
TEST(MonitorsThreadedTest, FramesGoOnWhileTheCapturedMonitorIsSwitchedOff) {
  ASSERT_EQ(3u, MonitorCount());
  ComApartment com;
  LoadedLibrary library;
  ASSERT_TRUE(library.loaded());
  const RECT place = {-700, 100, -540, 200};
  WindowThread window(place);
  ASSERT_TRUE(window.shown());
  {
    TestGraph graph(library);
    ASSERT_EQ(S_OK, graph.WriteLong(SourceProperty::CaptureArea, kAreaMonitor));
    ASSERT_EQ(S_OK, graph.WriteLong(SourceProperty::CaptureValue, 2));
    // The monitor's size is offered first.
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, graph.sourcePin()->QueryInterface(IID_IAMStreamConfig, config.put_void()));
    AM_MEDIA_TYPE* offered = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps = {};
    ASSERT_EQ(S_OK, config->GetStreamCaps(0, &offered, reinterpret_cast<BYTE*>(&caps)));
    const auto* first = reinterpret_cast<const VIDEOINFOHEADER*>(offered->pbFormat);
    EXPECT_EQ(800, first->bmiHeader.biWidth);
    EXPECT_EQ(600, first->bmiHeader.biHeight);
    ReleaseMediaTypeFormat(offered);
    ::CoTaskMemFree(offered);
    config.reset();
    ASSERT_EQ(S_OK, graph.Connect(0));
    AM_MEDIA_TYPE type = graph.ConnectedType();
    const auto* format = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
    ASSERT_NE(nullptr, format);
    EXPECT_EQ(800, format->bmiHeader.biWidth);
    EXPECT_EQ(600, format->bmiHeader.biHeight);
    ReleaseMediaTypeFormat(&type);

    // The pixel of the window's point (x, y) in a bottom-up 800x600 RGB32 frame.
    auto pixel = [&place](const DeliveredFrame& frame, LONG x, LONG y) -> COLORREF {
      const size_t row = static_cast<size_t>(599 - (place.top + y - kLeft.top));
      const BYTE* p = frame.pixels.data() + row * 800 * 4 + static_cast<size_t>(place.left + x - kLeft.left) * 4;
      return RGB(p[2], p[1], p[0]);
    };
    ASSERT_TRUE(SUCCEEDED(graph.Run())) << "a live source may leave the transition pending (S_FALSE)";
    ASSERT_TRUE(graph.WaitForFrames(2));
    std::vector<DeliveredFrame> frames = graph.Frames();
    ASSERT_EQ(800u * 600 * 4, frames.back().pixels.size());
    EXPECT_EQ(window.window().ColorAt(20, 20), pixel(frames.back(), 20, 20));

    const bool off = ChangeLayout(L"without-left", 2);
    EXPECT_TRUE(off) << "the left monitor was not switched off";
    if (off) {
      // Nothing shows that monitor's place any more: the filter reads the layout again at
      // least every half second, so within a few frames its frames are black there.
      bool black = false;
      for (int round = 0; round < 20 && !black; ++round) {
        graph.ClearFrames();
        ASSERT_TRUE(graph.WaitForFrames(2));
        frames = graph.Frames();
        ASSERT_EQ(800u * 600 * 4, frames.back().pixels.size());
        black = pixel(frames.back(), 20, 20) == RGB(0, 0, 0) && pixel(frames.back(), 120, 70) == RGB(0, 0, 0);
      }
      EXPECT_TRUE(black) << "the switched-off monitor's place still shows the window";
    }
    EXPECT_TRUE(ChangeLayout(L"standard", 3)) << "the left monitor did not come back";
    graph.ClearFrames();
    EXPECT_TRUE(graph.WaitForFrames(2));
    EXPECT_EQ(S_OK, graph.Stop());
  }
  EXPECT_EQ(S_OK, library.CanUnloadNow());
}

}  // namespace
