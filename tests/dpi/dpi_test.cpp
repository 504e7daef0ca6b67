// A host that declares no DPI awareness (this program has no manifest) on a scaled screen: the
// platform shows it a smaller, virtual screen, and the filter must still give physical pixels.
// tests/dpi/run.sh runs it at each scale with DORVANTEL_DPI set to the screen's DPI; at 96 the
// two views agree. The known content is drawn by this program's windows: a DPI-unaware one,
// which the platform stretches, and a per-monitor-aware one, which it does not.

#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/dpi_awareness.h"
#include "hostkit/pins.h"
#include "hostkit/source_settings.h"
#include "editor/panel_resource.h"
#include "module/dorvantel.h"
#include "page/property_page.h"
#include "tests/support/page_site.h"
#include "tests/support/test_dib.h"
#include "tests/support/test_graph.h"
#include "tests/support/test_window.h"

using namespace dorvantel;

namespace {

int ScreenDpi() {
  const char* value = std::getenv("DORVANTEL_DPI");
  const int dpi = value ? std::atoi(value) : 96;
  return dpi > 0 ? dpi : 96;
}

// Logical (this host's view) to physical pixels at the screen's scale.
LONG Physical(LONG logical) { return ::MulDiv(logical, ScreenDpi(), 96); }

// The physical screen, as the platform states it to any thread.
SIZE PhysicalScreen() {
  HDC screen = ::GetDC(nullptr);
  const SIZE size = {::GetDeviceCaps(screen, DESKTOPHORZRES), ::GetDeviceCaps(screen, DESKTOPVERTRES)};
  ::ReleaseDC(nullptr, screen);
  return size;
}

// The screen this host is shown.
SIZE HostScreen() { return SIZE{::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)}; }

// The quadrants' colours (TestWindow::Quadrants), in the order of QuadrantCentres.
const COLORREF kQuadrants[] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 0)};

// The centres of a w x h picture's four quadrants: top left, top right, bottom left, bottom right.
std::vector<POINT> QuadrantCentres(LONG left, LONG top, LONG w, LONG h) {
  return {{left + w / 4, top + h / 4}, {left + 3 * w / 4, top + h / 4}, {left + w / 4, top + 3 * h / 4},
          {left + 3 * w / 4, top + 3 * h / 4}};
}

// A quadrants window made in a per-monitor-aware context: placed, sized and painted in physical
// pixels, never stretched.
std::unique_ptr<TestWindow> PerMonitorAwareWindow(const RECT& physicalRect) {
  PhysicalPixels physical;
  const LONG w = physicalRect.right - physicalRect.left, h = physicalRect.bottom - physicalRect.top;
  return std::make_unique<TestWindow>(physicalRect, RGB(0, 0, 0),
                                      std::vector<TestWindow::Block>{{{0, 0, w / 2, h / 2}, kQuadrants[0]},
                                                                     {{w / 2, 0, w, h / 2}, kQuadrants[1]},
                                                                     {{0, h / 2, w / 2, h}, kQuadrants[2]},
                                                                     {{w / 2, h / 2, w, h}, kQuadrants[3]}});
}

class DpiThreadedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.loaded());
    physical_ = PhysicalScreen();
    // The unaware window: in the lower right of this host's view, so that at any scale above
    // 100 % its physical place lies outside the part of the screen the view's size would crop.
    const SIZE view = HostScreen();
    logical_ = RECT{view.cx * 55 / 100, view.cy * 55 / 100, view.cx * 85 / 100, view.cy * 85 / 100};
    shown_ = RECT{Physical(logical_.left), Physical(logical_.top), Physical(logical_.right), Physical(logical_.bottom)};
  }
  void TearDown() override { EXPECT_EQ(S_OK, library_.CanUnloadNow()) << "the test left objects alive"; }

  // One frame of the current settings through Wine's graph, in RGB32; its size in *size.
  bool GrabOne(TestGraph& graph, TestDib** frame, SIZE* size) {
    AM_MEDIA_TYPE offered{};
    if (graph.Connect(0) != S_OK) return false;
    offered = graph.ConnectedType();
    const auto* video = reinterpret_cast<const VIDEOINFOHEADER*>(offered.pbFormat);
    *size = SIZE{video->bmiHeader.biWidth, std::abs(video->bmiHeader.biHeight)};
    ReleaseMediaTypeFormat(&offered);
    if (FAILED(graph.Run()) || !graph.WaitForFrames(2)) return false;
    graph.Stop();
    const std::vector<DeliveredFrame> frames = graph.Frames();
    dib_ = std::make_unique<TestDib>(DibLayout::Rgb32, size->cx, size->cy);
    if (frames[1].pixels.size() < dib_->bitsBytes()) return false;
    std::memcpy(dib_->bits(), frames[1].pixels.data(), dib_->bitsBytes());
    *frame = dib_.get();
    return true;
  }

  void ExpectQuadrants(const TestDib& frame, LONG left, LONG top, LONG w, LONG h) {
    const std::vector<POINT> centres = QuadrantCentres(left, top, w, h);
    for (size_t i = 0; i < centres.size(); ++i) {
      EXPECT_LE(ColorDistance(kQuadrants[i], frame.Pixel(centres[i].x, centres[i].y)), 0)
          << "frame point " << centres[i].x << "," << centres[i].y << " shows 0x" << std::hex
          << frame.Pixel(centres[i].x, centres[i].y) << " for 0x" << kQuadrants[i];
    }
  }

  // This host's thread is as it was: DPI-unaware, shown the virtual screen.
  void ExpectHostContextKept() {
    EXPECT_EQ(0, ThreadDpiAwareness()) << "the host's DPI awareness was not restored";
    EXPECT_EQ(::MulDiv(physical_.cx, 96, ScreenDpi()), HostScreen().cx);
  }

  ComApartment com_;
  LoadedLibrary library_;
  SIZE physical_{};
  RECT logical_{};  // the unaware window in this host's view
  RECT shown_{};    // the same where the screen shows it
  std::unique_ptr<TestDib> dib_;
};

// The test's premise: this program is DPI-unaware and, above 96 DPI, is shown a screen smaller
// by the scale; a thread switched to per-monitor awareness sees the physical one.
TEST_F(DpiThreadedTest, TheHostIsShownAScaledScreenAndAnAwareThreadThePhysicalOne) {
  EXPECT_EQ(0, ThreadDpiAwareness());
  const SIZE view = HostScreen();
  EXPECT_EQ(::MulDiv(physical_.cx, 96, ScreenDpi()), view.cx);
  EXPECT_EQ(::MulDiv(physical_.cy, 96, ScreenDpi()), view.cy);
  {
    PhysicalPixels aware;
    EXPECT_TRUE(aware.switched());
    EXPECT_EQ(2, ThreadDpiAwareness());
    EXPECT_EQ(physical_.cx, HostScreen().cx);
    EXPECT_EQ(physical_.cy, HostScreen().cy);
  }
  EXPECT_EQ(0, ThreadDpiAwareness());
  EXPECT_EQ(view.cx, HostScreen().cx);
}

// A new filter offers the physical screen; the whole display, a monitor and the desktop are
// grabbed whole, the unaware window's quadrants where the screen shows them; the host's thread
// keeps its own context.
TEST_F(DpiThreadedTest, TheDisplayAMonitorAndTheDesktopAreTheWholePhysicalScreen) {
  WindowThread window(logical_);
  ASSERT_TRUE(window.shown());
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(S_OK, library_.CreateFilter(&filter));
  ComPtr<IPin> pin;
  ASSERT_EQ(S_OK, FindPin(filter.get(), PINDIR_OUTPUT, &pin));
  TaskMediaType type;
  ASSERT_EQ(S_OK, OfferedType(pin.get(), 0, &type));
  const auto* offered = reinterpret_cast<const VIDEOINFOHEADER*>(type.get()->pbFormat);
  EXPECT_EQ(physical_.cx, offered->bmiHeader.biWidth);
  EXPECT_EQ(physical_.cy, offered->bmiHeader.biHeight);
  ExpectHostContextKept();
  type.reset();
  pin.reset();
  filter.reset();

  for (LONG area : {kAreaDisplay, kAreaMonitor, kAreaDesktop}) {
    SCOPED_TRACE(testing::Message() << "area " << area);
    TestGraph graph(library_);
    graph.KeepPixels(true);
    ASSERT_EQ(S_OK, graph.WriteBool(L"FramePacing", false));
    ASSERT_EQ(S_OK, graph.WriteLong(L"CaptureArea", area));
    if (area == kAreaMonitor) {
      ASSERT_EQ(S_OK, graph.WriteLong(L"CaptureValue", 1));
    }
    TestDib* frame = nullptr;
    SIZE size{};
    ASSERT_TRUE(GrabOne(graph, &frame, &size));
    EXPECT_EQ(physical_.cx, size.cx);
    EXPECT_EQ(physical_.cy, size.cy);
    ExpectQuadrants(*frame, shown_.left, shown_.top, shown_.right - shown_.left, shown_.bottom - shown_.top);
    ExpectHostContextKept();
  }
}

// A rectangle is physical pixels: the unaware window's place on the real screen, which lies
// outside this host's view at any scale above 100 %, gives the window's quadrants.
TEST_F(DpiThreadedTest, ARectangleIsTakenInPhysicalPixels) {
  WindowThread window(logical_);
  ASSERT_TRUE(window.shown());
  TestGraph graph(library_);
  graph.KeepPixels(true);
  ASSERT_EQ(S_OK, graph.WriteBool(L"FramePacing", false));
  ASSERT_EQ(S_OK, graph.WriteLong(L"CaptureArea", kAreaScreenRectangle));
  RECT rect = shown_;
  ASSERT_EQ(S_OK, graph.WritePointer(L"CaptureValue", &rect));
  TestDib* frame = nullptr;
  SIZE size{};
  ASSERT_TRUE(GrabOne(graph, &frame, &size));
  EXPECT_EQ(shown_.right - shown_.left, size.cx);
  EXPECT_EQ(shown_.bottom - shown_.top, size.cy);
  ExpectQuadrants(*frame, 0, 0, size.cx, size.cy);
}

// A window is captured at the size the screen shows it: the unaware one stretched by the
// platform (whole, and a part of it in physical pixels relative to its corner), the
// per-monitor-aware one as it paints.
TEST_F(DpiThreadedTest, AWindowIsCapturedAsTheScreenShowsIt) {
  WindowThread unaware(logical_);
  ASSERT_TRUE(unaware.shown());
  const HWND hwnd = unaware.window().handle();
  const LONG w = shown_.right - shown_.left, h = shown_.bottom - shown_.top;
  {
    SCOPED_TRACE("the unaware window, whole");
    TestGraph graph(library_);
    graph.KeepPixels(true);
    ASSERT_EQ(S_OK, graph.WriteBool(L"FramePacing", false));
    // By its title: the whole window, its frames of its size.
    ASSERT_TRUE(::SetWindowTextW(hwnd, L"Dorvantel unaware window"));
    ASSERT_EQ(S_OK, graph.WriteLong(L"CaptureArea", kAreaWindow));
    ASSERT_EQ(S_OK, SourceSettings(graph.source()).WriteText(L"WindowTitle", L"Dorvantel unaware window"));
    TestDib* frame = nullptr;
    SIZE size{};
    ASSERT_TRUE(GrabOne(graph, &frame, &size));
    EXPECT_NEAR(w, size.cx, 1);
    EXPECT_NEAR(h, size.cy, 1);
    ExpectQuadrants(*frame, 0, 0, size.cx, size.cy);
    ExpectHostContextKept();
  }
  {
    SCOPED_TRACE("the unaware window's bottom right quadrant");
    TestGraph graph(library_);
    graph.KeepPixels(true);
    ASSERT_EQ(S_OK, graph.WriteBool(L"FramePacing", false));
    ASSERT_EQ(S_OK, graph.WriteLong(L"CaptureArea", kAreaWindowRectangle));
    WindowRegion region = {hwnd, w / 2 + 2, h / 2 + 2, w - 2, h - 2};
    ASSERT_EQ(S_OK, graph.WritePointer(L"CaptureValue", &region));
    TestDib* frame = nullptr;
    SIZE size{};
    ASSERT_TRUE(GrabOne(graph, &frame, &size));
    EXPECT_EQ(region.right - region.left, size.cx);
    EXPECT_EQ(region.bottom - region.top, size.cy);
    for (const POINT& p : QuadrantCentres(0, 0, size.cx, size.cy)) {
      EXPECT_EQ(0, ColorDistance(kQuadrants[3], frame->Pixel(p.x, p.y))) << p.x << "," << p.y;
    }
  }
  {
    SCOPED_TRACE("a per-monitor-aware window");
    const RECT aware = {physical_.cx / 10, physical_.cy * 6 / 10, physical_.cx / 10 + 200, physical_.cy * 6 / 10 + 120};
    std::unique_ptr<TestWindow> window = PerMonitorAwareWindow(aware);
    ASSERT_TRUE(window->WaitUntilShown());
    TestGraph graph(library_);
    graph.KeepPixels(true);
    ASSERT_EQ(S_OK, graph.WriteBool(L"FramePacing", false));
    ASSERT_TRUE(::SetWindowTextW(window->handle(), L"Dorvantel aware window"));
    ASSERT_EQ(S_OK, graph.WriteLong(L"CaptureArea", kAreaWindow));
    ASSERT_EQ(S_OK, SourceSettings(graph.source()).WriteText(L"WindowTitle", L"Dorvantel aware window"));
    TestDib* frame = nullptr;
    SIZE size{};
    ASSERT_TRUE(GrabOne(graph, &frame, &size));
    EXPECT_EQ(200, size.cx);
    EXPECT_EQ(120, size.cy);
    ExpectQuadrants(*frame, 0, 0, size.cx, size.cy);
  }
}

// The cursor is drawn where it is on the real screen, at the size the screen shows cursors:
// the test cursor's black block lands at its hotspot's physical place, scaled with the shape.
TEST_F(DpiThreadedTest, TheCursorIsDrawnWhereTheScreenShowsIt) {
  TestWindow window = TestWindow::Quadrants(logical_);
  ASSERT_TRUE(window.WaitUntilShown());
  TestCursor cursor(POINT{5, 7}, RECT{4, 6, 12, 14});
  window.UseCursor(cursor.handle());
  const LONG w = logical_.right - logical_.left, h = logical_.bottom - logical_.top;
  ASSERT_TRUE(window.PointAt(w / 4, h / 4));  // the red quadrant's centre, in this host's view
  // Where the screen has it (the platform's answer to an aware thread is the premise).
  const POINT at = {Physical(logical_.left + w / 4), Physical(logical_.top + h / 4)};
  {
    PhysicalPixels aware;
    POINT seen{};
    ASSERT_TRUE(::GetCursorPos(&seen));
    EXPECT_NEAR(at.x, seen.x, 1);
    EXPECT_NEAR(at.y, seen.y, 1);
  }

  TestGraph graph(library_);
  graph.KeepPixels(true);
  ASSERT_EQ(S_OK, graph.WriteBool(L"FramePacing", false));
  ASSERT_EQ(S_OK, graph.WriteBool(L"IncludeCursor", true));
  ASSERT_EQ(S_OK, graph.WriteLong(L"CaptureArea", kAreaScreenRectangle));
  RECT rect = {at.x - 40, at.y - 40, at.x + 40, at.y + 40};  // inside the red quadrant
  ASSERT_EQ(S_OK, graph.WritePointer(L"CaptureValue", &rect));
  TestDib* frame = nullptr;
  SIZE size{};
  ASSERT_TRUE(GrabOne(graph, &frame, &size));
  // The black pixels' bounds: nothing else in the rectangle is black.
  RECT black = {size.cx, size.cy, -1, -1};
  for (LONG y = 0; y < size.cy; ++y) {
    for (LONG x = 0; x < size.cx; ++x) {
      if (frame->Pixel(x, y) != RGB(0, 0, 0)) continue;
      black = RECT{std::min(black.left, x), std::min(black.top, y), std::max(black.right, x + 1),
                   std::max(black.bottom, y + 1)};
    }
  }
  ASSERT_GT(black.right, black.left) << "no cursor in the frame";
  const LONG side = black.right - black.left;
  EXPECT_EQ(side, black.bottom - black.top);
  // The block is 8 of the shape's 32 pixels, one pixel left of and above the hotspot.
  LONG drawnCursor = 0;
  {
    PhysicalPixels aware;
    drawnCursor = ::GetSystemMetrics(SM_CXCURSOR);
  }
  EXPECT_NEAR(::MulDiv(8, drawnCursor, 32), side, 1);
  EXPECT_NEAR(40 - ::MulDiv(1, drawnCursor, 32), black.left, 1);
  EXPECT_NEAR(40 - ::MulDiv(1, drawnCursor, 32), black.top, 1);
}

// The property page lives in its host's process: inside this unaware host its editor lists the
// monitors and offers sizes in physical pixels, as the filter takes them, and the host's thread
// keeps its context.
TEST_F(DpiThreadedTest, ThePageShowsPhysicalPixelsInsideAnUnawareHost) {
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(S_OK, library_.CreateFilter(&filter));
  const HWND parent = ::CreateWindowExW(0, L"STATIC", L"frame", WS_OVERLAPPEDWINDOW, 0, 0, 640, 560, nullptr,
                                        nullptr, nullptr, nullptr);
  ASSERT_TRUE(parent);
  TestSite site;
  {
    auto* made = new DesktopSourcePage(nullptr, ::GetModuleHandleW(nullptr), PageFrame::NeverCallsApply);
    ComPtr<IPropertyPage> page;
    ASSERT_EQ(S_OK, made->InnerQueryInterface(IID_IPropertyPage, page.put_void()));
    ASSERT_EQ(S_OK, page->SetPageSite(&site));
    IUnknown* objects[] = {filter.get()};
    ASSERT_EQ(S_OK, page->SetObjects(1, objects));
    const RECT place{4, 4, 600, 520};
    ASSERT_EQ(S_OK, page->Activate(parent, &place, TRUE));
    const HWND panel = ::GetWindow(parent, GW_CHILD);
    auto shown = [panel](int id) {
      wchar_t text[256] = {};
      ::GetDlgItemTextW(panel, id, text, 256);
      return std::wstring(text);
    };
    const std::wstring primary =
        L"1: " + std::to_wstring(physical_.cx) + L"x" + std::to_wstring(physical_.cy) + L" at 0,0";
    EXPECT_EQ(0u, shown(IDC_PANEL_MONITORS).find(primary)) << shown(IDC_PANEL_MONITORS);
    EXPECT_EQ(std::to_wstring(physical_.cx / 2), shown(IDC_PANEL_SCALE_W)) << "the output size offered";
    EXPECT_EQ(std::to_wstring(physical_.cy / 2), shown(IDC_PANEL_SCALE_H));
    ExpectHostContextKept();
    ASSERT_EQ(S_OK, page->Deactivate());
    ASSERT_EQ(S_OK, page->SetObjects(0, nullptr));
    ASSERT_EQ(S_OK, page->SetPageSite(nullptr));
  }
  ::DestroyWindow(parent);
  filter.reset();
  EXPECT_EQ(1u, site.refs) << "the page kept its site";
}

}  // namespace
