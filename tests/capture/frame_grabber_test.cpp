#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/frame_grabber.h"
#include "base/gdi_resources.h"
#include "format/colour_cube.h"
#include "module/dorvantel.h"
#include "tests/support/test_dib.h"
#include "tests/support/test_window.h"

namespace {

const COLORREF kRed = RGB(255, 0, 0);
const COLORREF kGreen = RGB(0, 255, 0);
const COLORREF kBlue = RGB(0, 0, 255);
const COLORREF kYellow = RGB(255, 255, 0);
const COLORREF kBlack = RGB(0, 0, 0);

// Compares every pixel of a grab with what is expected there, within the layout's precision.
::testing::AssertionResult PictureMatches(const TestDib& dib, const std::function<COLORREF(LONG, LONG)>& expected,
                                          LONG margin = 0) {
  int mismatches = 0;
  std::string first;
  for (LONG y = margin; y < dib.height() - margin; ++y) {
    for (LONG x = margin; x < dib.width() - margin; ++x) {
      const COLORREF want = expected(x, y);
      const COLORREF got = dib.Pixel(x, y);
      if (ColorDistance(want, got) > dib.Tolerance()) {
        if (mismatches++ == 0) {
          char text[96];
          wsprintfA(text, "(%ld, %ld): got %06lx, expected %06lx", x, y, got, want);
          first = text;
        }
      }
    }
  }
  if (mismatches == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << LayoutName(dib.layout()) << ": " << mismatches
                                       << " pixels differ, first at " << first;
}

// One window of four coloured quadrants shared by the suite, and the device contexts that
// the pin would hold: the whole screen's, with a memory device context for screen copies and
// one for printed windows.
class FrameGrabberTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { window_ = new TestWindow(TestWindow::Quadrants(RECT{300, 200, 460, 300})); }
  static void TearDownTestSuite() {
    delete window_;
    window_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(window_->WaitUntilShown());
    screen_ = WindowDC::Get(nullptr);
    copyMemory_.reset(::CreateCompatibleDC(screen_.get()));
    screenMemory_.reset(::CreateCompatibleDC(screen_.get()));
    gdiplus_ = StartGdiplusSession();
  }

  static const TestWindow& window() { return *window_; }
  // The window's rectangle on the screen, shrunk by dx and dy on each side.
  static RECT Inset(LONG dx, LONG dy) {
    const RECT& r = window_->screenRect();
    return RECT{r.left + dx, r.top + dy, r.right - dx, r.bottom - dy};
  }

  // A grab of rect into dib's buffer in dib's layout: of the display, or printing window
  // through the screen's device context.
  GrabRequest Request(TestDib& dib, const RECT& rect, HWND window = nullptr) {
    GrabRequest request;
    request.source = screen_.get();
    request.memory = window ? screenMemory_.get() : copyMemory_.get();
    request.rectangle = rect;
    request.destination = dib.bits();
    request.destinationBytes = dib.bitsBytes();
    request.info = dib.info();
    request.infoBytes = dib.infoBytes();
    request.window = window;
    return request;
  }
  void GrabScreen(TestDib& dib, const RECT& rect, bool cursor = false, bool layered = false) {
    GrabRequest request = Request(dib, rect);
    request.drawCursor = cursor;
    request.includeLayeredWindows = layered;
    GrabFrame(request);
  }
  void GrabWindow(TestDib& dib, const RECT& rect, bool cursor = false) {
    GrabRequest request = Request(dib, rect, window_->handle());
    request.drawCursor = cursor;
    GrabFrame(request);
  }
  void GrabScaled(TestDib& dib, const RECT& rect, FrameSize size, LONG interpolation) {
    GrabRequest request = Request(dib, rect);
    request.outputSize = size;
    request.interpolation = interpolation;
    GrabFrame(request);
  }

  // Grabs rect of the screen straight into a DIB section made from into's layout (an 8-bit
  // one with into's marker bytes for a colour table) and reads the section's pixels into
  // into's buffer. The grab's destination, into's buffer, must stay untouched meanwhile: the
  // frame goes through the section alone. False when that did not hold. An 8-bit frame,
  // whose colours the conversion picks, is converted into the destination all the same (in
  // the pin the section's own memory): true when it was.
  bool GrabIntoSection(TestDib& into, const RECT& rect, bool cursor = false) {
    void* bits = nullptr;
    BitmapHandle section(::CreateDIBSection(nullptr, into.info(), DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!section) return false;
    GrabRequest request = Request(into, rect);
    request.destinationSection = section.get();
    request.drawCursor = cursor;
    if (!GrabFrame(request)) return false;
    if (into.layout() == DibLayout::Palette8) return !into.Untouched();
    if (!into.Untouched()) return false;
    std::memcpy(into.bits(), bits, into.bitsBytes());
    return true;
  }

  MemoryDC copyMemory_;
  WindowDC screen_;
  MemoryDC screenMemory_;
  GdiplusSession gdiplus_;

 private:
  static TestWindow* window_;
};

TestWindow* FrameGrabberTest::window_ = nullptr;

class GrabLayoutTest : public FrameGrabberTest, public ::testing::WithParamInterface<DibLayout> {};

TEST_P(GrabLayoutTest, ScreenRectangleIsCopiedPixelForPixel) {
  TestDib dib(GetParam(), 140, 90);
  GrabScreen(dib, Inset(10, 5));
  EXPECT_TRUE(PictureMatches(dib, [](LONG x, LONG y) { return window().ColorAt(x + 10, y + 5); }));
}

TEST_P(GrabLayoutTest, WindowRegionIsTakenRelativeToTheWindowCorner) {
  TestDib dib(GetParam(), 140, 90);
  GrabWindow(dib, RECT{10, 5, 150, 95});
  EXPECT_TRUE(PictureMatches(dib, [](LONG x, LONG y) { return window().ColorAt(x + 10, y + 5); }));
}

// The pin's own samples are DIB sections: a screen copy goes straight into them, converted by
// the copy, and gives byte for byte the frame and colour table of the two passes.
TEST_P(GrabLayoutTest, ScreenCopiedIntoASampleSectionIsTheConvertedFrame) {
  TestDib converted(GetParam(), 140, 90);
  GrabScreen(converted, Inset(10, 5));
  TestDib copied(GetParam(), 140, 90);
  ASSERT_TRUE(GrabIntoSection(copied, Inset(10, 5)));
  EXPECT_TRUE(std::equal(converted.bits(), converted.bits() + converted.bitsBytes(), copied.bits()));
  const BYTE* convertedInfo = reinterpret_cast<const BYTE*>(converted.info());
  EXPECT_TRUE(std::equal(convertedInfo, convertedInfo + converted.infoBytes(), reinterpret_cast<const BYTE*>(copied.info())));
  EXPECT_TRUE(PictureMatches(copied, [](LONG x, LONG y) { return window().ColorAt(x + 10, y + 5); }));
}

INSTANTIATE_TEST_SUITE_P(Layouts, GrabLayoutTest,
                         ::testing::Values(DibLayout::Rgb32, DibLayout::Rgb24, DibLayout::Rgb565, DibLayout::Rgb555,
                                           DibLayout::Palette8, DibLayout::Rgb555Masks),
                         [](const ::testing::TestParamInfo<DibLayout>& info) { return LayoutName(info.param); });

// 8-bit frames hold the index of the colour cube's colour nearest to each pixel, and the cube as
// their colour table, copied and scaled alike; colours between the cube's levels show the rounding.
TEST_F(FrameGrabberTest, EightBitFramesHoldTheNearestColourCubeIndices) {
  const COLORREF colours[] = {RGB(51, 102, 204), RGB(204, 51, 102), RGB(153, 204, 51), RGB(250, 20, 130)};
  std::vector<TestWindow::Block> blocks;
  for (LONG i = 0; i < 4; ++i) blocks.push_back({RECT{i * 40, 0, i * 40 + 40, 40}, colours[i]});
  TestWindow patches(RECT{520, 360, 680, 400}, kBlack, blocks);
  ASSERT_TRUE(patches.WaitUntilShown());
  RGBQUAD cube[256];
  WriteColourCube(cube);
  TestDib copied(DibLayout::Palette8, 160, 40), scaled(DibLayout::Palette8, 80, 20);
  GrabScreen(copied, patches.screenRect());
  GrabScaled(scaled, patches.screenRect(), FrameSize{80, 20}, kInterpolationFast);
  for (TestDib* dib : {&copied, &scaled}) {
    EXPECT_EQ(0, std::memcmp(cube, dib->info()->bmiColors, sizeof(cube)));
    for (LONG i = 0; i < 4; ++i) {
      const BYTE index =
          dib->bits()[dib->stride() * static_cast<size_t>(dib->height() / 2) + dib->width() * (2 * i + 1) / 8];
      EXPECT_EQ(ColourCubeIndex(GetRValue(colours[i]), GetGValue(colours[i]), GetBValue(colours[i])), index)
          << dib->width() << " wide, block " << i;
    }
  }
}

TEST_F(FrameGrabberTest, EmptyOrInvertedRectangleLeavesDestinationAndInfoUntouched) {
  const RECT& r = window().screenRect();
  for (const RECT& rect : {RECT{r.left, r.top, r.left, r.bottom}, RECT{r.left, r.top, r.right, r.top},
                           RECT{r.right, r.top, r.left, r.bottom}, RECT{r.left, r.bottom, r.right, r.top}}) {
    TestDib dib(DibLayout::Palette8, 160, 100);
    const std::vector<BYTE> info(reinterpret_cast<BYTE*>(dib.info()),
                                 reinterpret_cast<BYTE*>(dib.info()) + dib.infoBytes());
    GrabScreen(dib, rect);
    GrabWindow(dib, RECT{rect.left - r.left, rect.top - r.top, rect.right - r.left, rect.bottom - r.top});
    EXPECT_TRUE(dib.Untouched());
    EXPECT_TRUE(std::equal(info.begin(), info.end(), reinterpret_cast<BYTE*>(dib.info())));
  }
}

// Layered windows are part of the screen copy with CAPTUREBLT; either raster operation
// copies ordinary windows exactly.
TEST_F(FrameGrabberTest, ScreenCopyWithAndWithoutLayeredWindows) {
  const COLORREF magenta = RGB(255, 0, 255);
  TestWindow layered(RECT{600, 200, 680, 260}, magenta, {}, WS_EX_LAYERED);
  ASSERT_TRUE(::SetLayeredWindowAttributes(layered.handle(), 0, 255, LWA_ALPHA));
  ASSERT_TRUE(layered.WaitUntilShown());

  TestDib withLayered(DibLayout::Rgb32, 80, 60);
  GrabScreen(withLayered, layered.screenRect(), false, true);
  EXPECT_TRUE(PictureMatches(withLayered, [&](LONG, LONG) { return magenta; }));

  for (bool includeLayered : {false, true}) {
    TestDib dib(DibLayout::Rgb32, 160, 100);
    GrabScreen(dib, window().screenRect(), false, includeLayered);
    EXPECT_TRUE(PictureMatches(dib, [](LONG x, LONG y) { return window().ColorAt(x, y); })) << includeLayered;
  }
}

// Scaled 160 x 100 -> 400 x 250: quadrant edges fall near x = 200 and y = 125. The outermost
// row and column are left out: there the platform's scaler blends with what lies outside.
COLORREF ScaledQuadrant(LONG x, LONG y) { return y < 125 ? (x < 200 ? kRed : kGreen) : (x < 200 ? kBlue : kYellow); }
bool NearScaledEdge(LONG x, LONG y, LONG distance) { return std::abs(x - 200) <= distance || std::abs(y - 125) <= distance; }

TEST_F(FrameGrabberTest, ScaledGrabWithNearestNeighbourKeepsPureColours) {
  TestDib dib(DibLayout::Rgb32, 400, 250);
  GrabScaled(dib, window().screenRect(), FrameSize{400, 250}, 5 /* InterpolationModeNearestNeighbor */);
  EXPECT_TRUE(PictureMatches(dib, [&](LONG x, LONG y) {
    const COLORREF got = dib.Pixel(x, y);
    if (!NearScaledEdge(x, y, 1)) return ScaledQuadrant(x, y);
    for (COLORREF pure : {kRed, kGreen, kBlue, kYellow}) {
      if (got == pure) return got;
    }
    return ScaledQuadrant(x, y);
  }, 1));
}

TEST_F(FrameGrabberTest, ScaledGrabWithBilinearBlendsAtTheEdges) {
  TestDib dib(DibLayout::Rgb24, 400, 250);
  GrabScaled(dib, window().screenRect(), FrameSize{400, 250}, 3 /* InterpolationModeBilinear */);
  EXPECT_TRUE(PictureMatches(
      dib, [&](LONG x, LONG y) { return NearScaledEdge(x, y, 4) ? dib.Pixel(x, y) : ScaledQuadrant(x, y); }, 4));
  // Across the red-green edge lies a colour that is neither.
  bool blended = false;
  for (LONG x = 195; x < 205; ++x) {
    const COLORREF c = dib.Pixel(x, 60);
    if (ColorDistance(c, kRed) > 16 && ColorDistance(c, kGreen) > 16) blended = true;
  }
  EXPECT_TRUE(blended);
}

// The filter's own scaler, halving 160 x 100: each output pixel averages a 2 x 2 block that
// lies inside one quadrant, so every pixel has its quadrant's pure colour, upright and in
// every layout (32 bits written by the scaler itself, the others converted by GDI after it).
TEST_P(GrabLayoutTest, FastScalerHalvesToPureQuadrants) {
  TestDib dib(GetParam(), 80, 50);
  GrabScaled(dib, window().screenRect(), FrameSize{80, 50}, kInterpolationFast);
  EXPECT_TRUE(PictureMatches(dib, [](LONG x, LONG y) { return window().ColorAt(2 * x, 2 * y); }));
}

// At the grab's own size the scaler copies: byte for byte what the grab without scaling gives.
// The fourth byte of 32-bit pixels is 0 in the scaler's frames, as Windows' GetDIBits gives it
// for the screen (Wine 8 too; Wine 10 gives 255 there, so it is not compared with the grab's).
TEST_F(FrameGrabberTest, FastScalerAtTheSameSizeGivesTheUnscaledGrab) {
  for (DibLayout layout : {DibLayout::Rgb32, DibLayout::Rgb24}) {
    TestDib scaled(layout, 140, 90);
    TestDib unscaled(layout, 140, 90);
    GrabScaled(scaled, Inset(10, 5), FrameSize{140, 90}, kInterpolationFast);
    GrabScreen(unscaled, Inset(10, 5));
    EXPECT_FALSE(scaled.Untouched());
    const bool fourthBytes = layout == DibLayout::Rgb32;
    size_t differing = 0, firstDiffering = 0, fourthNotZero = 0;
    for (size_t i = 0; i < unscaled.bitsBytes(); ++i) {
      if (fourthBytes && i % 4 == 3) {
        if (scaled.bits()[i] != 0) ++fourthNotZero;
        continue;
      }
      if (scaled.bits()[i] != unscaled.bits()[i] && differing++ == 0) firstDiffering = i;
    }
    EXPECT_EQ(0u, differing) << LayoutName(layout) << ": first at byte " << firstDiffering;
    EXPECT_EQ(0u, fourthNotZero) << LayoutName(layout);
  }
}

// Written straight into the destination, the scaler keeps the conversion's limits: top-down
// 32-bit lines come out in their order, and a destination too short for the frame gets the
// lines GetDIBits would write (of a bottom-up frame, the bottom ones) and nothing past them.
TEST_F(FrameGrabberTest, FastScalerWritesWhereTheConversionWould) {
  TestDib dib(DibLayout::Rgb32, 80, 50);
  dib.info()->bmiHeader.biHeight = -50;
  GrabScaled(dib, window().screenRect(), FrameSize{80, 50}, kInterpolationFast);
  dib.info()->bmiHeader.biHeight = 50;
  // Read as bottom-up, the top-down frame stands on its head.
  EXPECT_TRUE(PictureMatches(dib, [](LONG x, LONG y) { return window().ColorAt(2 * x, 2 * (49 - y)); }));

  TestDib clipped(DibLayout::Rgb32, 80, 50);
  GrabRequest request = Request(clipped, window().screenRect());
  request.outputSize = FrameSize{80, 50};
  request.interpolation = kInterpolationFast;
  request.destinationBytes = clipped.stride() * 20 + 8;
  EXPECT_TRUE(GrabFrame(request));
  EXPECT_EQ(kBlue, clipped.Pixel(5, 49));
  EXPECT_EQ(kYellow, clipped.Pixel(75, 30));
  const BYTE* bits = clipped.bits();
  EXPECT_TRUE(std::all_of(bits + clipped.stride() * 20, bits + clipped.bitsBytes(), [](BYTE b) { return b == TestDib::kMarker; }));
}

// The cursor's black block, drawn at the pointer less the hotspot; every other pixel keeps
// the window's colour.
class CursorGrabTest : public FrameGrabberTest {
 protected:
  CursorGrabTest() : cursor_(POINT{5, 7}, RECT{4, 6, 12, 14}) {}
  void SetUp() override {
    FrameGrabberTest::SetUp();
    ASSERT_EQ(32, ::GetSystemMetrics(SM_CXCURSOR));
    ASSERT_EQ(32, ::GetSystemMetrics(SM_CYCURSOR));
    const_cast<TestWindow&>(window()).UseCursor(cursor_.handle());
  }
  void TearDown() override { const_cast<TestWindow&>(window()).UseCursor(nullptr); }

  // Expected picture of a grab whose pixel (0, 0) shows the window's point origin, with the
  // pointer on the window's point pointer.
  COLORREF Expected(LONG x, LONG y, POINT origin, POINT pointer) const {
    const LONG wx = x + origin.x;
    const LONG wy = y + origin.y;
    const RECT block = cursor_.block();
    const LONG cx = wx - (pointer.x - cursor_.hotspot().x);
    const LONG cy = wy - (pointer.y - cursor_.hotspot().y);
    if (cx >= block.left && cx < block.right && cy >= block.top && cy < block.bottom) return kBlack;
    return window().ColorAt(wx, wy);
  }

  TestCursor cursor_;
};

TEST_F(CursorGrabTest, CursorIsDrawnRelativeToTheScreenRectangle) {
  const POINT pointer = {40, 30};
  ASSERT_TRUE(const_cast<TestWindow&>(window()).PointAt(pointer.x, pointer.y));
  TestDib dib(DibLayout::Rgb32, 140, 90);
  GrabScreen(dib, Inset(10, 5), true);
  EXPECT_TRUE(PictureMatches(dib, [&](LONG x, LONG y) { return Expected(x, y, POINT{10, 5}, pointer); }));

  TestDib without(DibLayout::Rgb32, 140, 90);
  GrabScreen(without, Inset(10, 5), false);
  EXPECT_TRUE(PictureMatches(without, [](LONG x, LONG y) { return window().ColorAt(x + 10, y + 5); }));
}

TEST_F(CursorGrabTest, CursorIsDrawnRelativeToThePrintedWindow) {
  const POINT pointer = {110, 70};
  ASSERT_TRUE(const_cast<TestWindow&>(window()).PointAt(pointer.x, pointer.y));
  TestDib dib(DibLayout::Rgb24, 140, 70);
  GrabWindow(dib, RECT{10, 20, 150, 90}, true);
  EXPECT_TRUE(PictureMatches(dib, [&](LONG x, LONG y) { return Expected(x, y, POINT{10, 20}, pointer); }));
}

// Into a sample's own section the cursor is drawn where it lands, as in the two passes, in
// every layout.
TEST_F(CursorGrabTest, CursorIsDrawnIntoASampleSectionAsIntoTheConvertedFrame) {
  const POINT pointer = {70, 40};
  ASSERT_TRUE(const_cast<TestWindow&>(window()).PointAt(pointer.x, pointer.y));
  for (DibLayout layout : {DibLayout::Rgb32, DibLayout::Rgb24, DibLayout::Rgb565, DibLayout::Rgb555,
                           DibLayout::Palette8, DibLayout::Rgb555Masks}) {
    TestDib converted(layout, 140, 90);
    GrabScreen(converted, Inset(10, 5), true);
    TestDib copied(layout, 140, 90);
    ASSERT_TRUE(GrabIntoSection(copied, Inset(10, 5), true)) << LayoutName(layout);
    EXPECT_TRUE(std::equal(converted.bits(), converted.bits() + converted.bitsBytes(), copied.bits())) << LayoutName(layout);
    EXPECT_TRUE(PictureMatches(copied, [&](LONG x, LONG y) { return Expected(x, y, POINT{10, 5}, pointer); }));
  }
}

// Decided limits: the grab never writes past the destination or the bitmap info it is
// given, and converts no more lines than the format has.
TEST_F(FrameGrabberTest, LinesAreClippedToTheFormatHeight) {
  TestDib dib(DibLayout::Rgb32, 160, 40);
  std::vector<BYTE> buffer(dib.stride() * 100, TestDib::kMarker);
  GrabRequest request = Request(dib, window().screenRect());
  request.destination = buffer.data();
  request.destinationBytes = buffer.size();
  GrabFrame(request);
  const size_t formatBytes = dib.stride() * 40;
  EXPECT_FALSE(std::all_of(buffer.begin(), buffer.begin() + formatBytes, [](BYTE b) { return b == TestDib::kMarker; }));
  EXPECT_TRUE(std::all_of(buffer.begin() + formatBytes, buffer.end(), [](BYTE b) { return b == TestDib::kMarker; }));
}

TEST_F(FrameGrabberTest, LinesAreClippedToTheDestinationSize) {
  TestDib dib(DibLayout::Rgb24, 160, 100);
  const size_t given = dib.stride() * 30 + dib.stride() / 2;  // 30 whole lines and a half
  GrabRequest request = Request(dib, window().screenRect());
  request.destinationBytes = given;
  GrabFrame(request);
  const BYTE* bits = dib.bits();
  // Bottom-up: the 30 lines written are the picture's bottom ones.
  EXPECT_EQ(kBlue, dib.Pixel(10, 99));
  EXPECT_EQ(kYellow, dib.Pixel(150, 70));
  EXPECT_TRUE(std::all_of(bits + dib.stride() * 30, bits + dib.bitsBytes(), [](BYTE b) { return b == TestDib::kMarker; }));
}

TEST_F(FrameGrabberTest, ShortBitmapInfoIsNeverReadOrWrittenPastItsEnd) {
  for (DibLayout layout : {DibLayout::Palette8, DibLayout::Rgb565}) {
    TestDib dib(layout, 160, 100);
    BYTE* info = reinterpret_cast<BYTE*>(dib.info());
    // Only the header is handed over; whatever follows it in the block must stay as it is.
    std::fill(info + sizeof(BITMAPINFOHEADER), info + dib.infoBytes(), 0x5A);
    GrabRequest request = Request(dib, window().screenRect());
    request.infoBytes = sizeof(BITMAPINFOHEADER);
    GrabFrame(request);
    EXPECT_TRUE(std::all_of(info + sizeof(BITMAPINFOHEADER), info + dib.infoBytes(), [](BYTE b) { return b == 0x5A; }))
        << LayoutName(layout);
    // Pixels need no colour table, but 16 bits need their masks.
    EXPECT_EQ(layout == DibLayout::Rgb565, dib.Untouched()) << LayoutName(layout);
  }
}

TEST_F(FrameGrabberTest, UnusableBitmapInfoLeavesDestinationUntouched) {
  auto grab = [&](TestDib& dib, BITMAPINFO* info, size_t infoBytes) {
    GrabRequest request = Request(dib, window().screenRect());
    request.info = info;
    request.infoBytes = infoBytes;
    GrabFrame(request);
  };
  TestDib dib(DibLayout::Rgb32, 160, 100);
  grab(dib, nullptr, 0);
  grab(dib, dib.info(), sizeof(BITMAPINFOHEADER) - 1);
  dib.info()->bmiHeader.biCompression = BI_JPEG;
  grab(dib, dib.info(), dib.infoBytes());
  dib.info()->bmiHeader.biCompression = BI_RGB;
  dib.info()->bmiHeader.biWidth = 0;
  grab(dib, dib.info(), dib.infoBytes());
  EXPECT_TRUE(dib.Untouched());
  // Without a destination nothing is written, not even an 8-bit layout's colour table, and
  // the device context keeps its bitmap.
  TestDib other(DibLayout::Palette8, 160, 100);
  const BYTE* otherInfo = reinterpret_cast<const BYTE*>(other.info());
  const std::vector<BYTE> before(otherInfo, otherInfo + other.infoBytes());
  const HGDIOBJ selected = ::GetCurrentObject(copyMemory_.get(), OBJ_BITMAP);
  GrabRequest request = Request(other, window().screenRect());
  request.destination = nullptr;
  request.destinationBytes = 0;
  GrabFrame(request);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), otherInfo));
  EXPECT_EQ(selected, ::GetCurrentObject(copyMemory_.get(), OBJ_BITMAP));
}

TEST_F(FrameGrabberTest, FailedBitmapOrScalerLeavesDestinationUntouched) {
  HGDIOBJ selected = ::GetCurrentObject(copyMemory_.get(), OBJ_BITMAP);
  TestDib dib(DibLayout::Rgb32, 160, 100);
  // The scaler cannot make a bitmap of no width.
  GrabScaled(dib, window().screenRect(), FrameSize{0, 100}, 5);
  GrabScaled(dib, window().screenRect(), FrameSize{160, -100}, 5);
  GrabScaled(dib, window().screenRect(), FrameSize{0, 100}, kInterpolationFast);
  GrabScaled(dib, window().screenRect(), FrameSize{160, -100}, kInterpolationFast);
  // No compatible bitmap (nor section) of this size can be made.
  GrabScaled(dib, RECT{0, 0, 0x7FFFFFF, 0x7FFFFFF}, FrameSize{160, 100}, 5);
  GrabScaled(dib, RECT{0, 0, 0x7FFFFFF, 0x7FFFFFF}, FrameSize{160, 100}, kInterpolationFast);
  GrabScreen(dib, RECT{0, 0, 0x7FFFFFF, 0x7FFFFFF});
  EXPECT_TRUE(dib.Untouched());
  EXPECT_EQ(selected, ::GetCurrentObject(copyMemory_.get(), OBJ_BITMAP));
  // The same device contexts still grab.
  GrabScaled(dib, window().screenRect(), FrameSize{160, 100}, 5);
  EXPECT_TRUE(PictureMatches(dib, [](LONG x, LONG y) { return window().ColorAt(x, y); }, 1));
}

// Grabs that reuse one set of kept bitmaps give, byte for byte, what grabs with new bitmaps
// give: through changes of layout, size and scaling, and with rectangles that reach past the
// screen's corners, where nothing of an earlier grab of the same size may show.
TEST_F(FrameGrabberTest, KeptBitmapsGrabWhatNewOnesGrab) {
  const LONG screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
  const LONG screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
  const RECT onWindow = window().screenRect();  // 160 x 100
  const RECT pastCorner = {screenWidth - 60, screenHeight - 40, screenWidth + 100, screenHeight + 60};
  const RECT beforeCorner = {-100, -60, 60, 40};
  struct Step {
    DibLayout layout;
    RECT rect;
    std::optional<FrameSize> output;
    LONG interpolation = 0;
  };
  const Step steps[] = {
      {DibLayout::Rgb32, onWindow, std::nullopt},        {DibLayout::Rgb32, pastCorner, std::nullopt},
      {DibLayout::Rgb565, onWindow, std::nullopt},       {DibLayout::Rgb555Masks, pastCorner, std::nullopt},
      {DibLayout::Rgb555, pastCorner, std::nullopt},     {DibLayout::Palette8, pastCorner, FrameSize{80, 50}},
      {DibLayout::Rgb565, Inset(10, 5), std::nullopt},   {DibLayout::Palette8, onWindow, std::nullopt},
      {DibLayout::Rgb24, onWindow, FrameSize{80, 50}},   {DibLayout::Rgb565, pastCorner, FrameSize{80, 50}},
      {DibLayout::Rgb32, onWindow, FrameSize{80, 50}, kInterpolationFast},
      {DibLayout::Rgb565, pastCorner, FrameSize{80, 50}, kInterpolationFast},
      {DibLayout::Rgb32, pastCorner, FrameSize{160, 100}, kInterpolationFast},
      {DibLayout::Rgb32, onWindow, std::nullopt},        {DibLayout::Rgb24, pastCorner, std::nullopt},
      {DibLayout::Rgb24, onWindow, std::nullopt},        {DibLayout::Rgb24, beforeCorner, std::nullopt},
  };
  const HGDIOBJ selected = ::GetCurrentObject(copyMemory_.get(), OBJ_BITMAP);
  GrabSurfaces kept;
  int index = 0;
  for (const Step& step : steps) {
    const LONG width = step.output ? step.output->width : step.rect.right - step.rect.left;
    const LONG height = step.output ? step.output->height : step.rect.bottom - step.rect.top;
    TestDib reused(step.layout, width, height);
    TestDib made(step.layout, width, height);
    GrabRequest request = Request(reused, step.rect);
    request.outputSize = step.output;
    request.interpolation = step.interpolation;
    GrabFrame(request, kept);
    request = Request(made, step.rect);
    request.outputSize = step.output;
    request.interpolation = step.interpolation;
    GrabFrame(request);
    EXPECT_FALSE(reused.Untouched()) << "step " << index;
    EXPECT_TRUE(std::equal(made.bits(), made.bits() + made.bitsBytes(), reused.bits())) << "step " << index;
    EXPECT_TRUE(std::equal(reinterpret_cast<BYTE*>(made.info()), reinterpret_cast<BYTE*>(made.info()) + made.infoBytes(),
                           reinterpret_cast<BYTE*>(reused.info())))
        << "step " << index;
    if (step.rect.right == pastCorner.right && (!step.output || step.output->width == 160)) {
      EXPECT_TRUE(PictureMatches(reused, [&](LONG x, LONG y) {
        return x >= 60 || y >= 40 ? kBlack : reused.Pixel(x, y);
      })) << "step " << index;
    }
    if (step.rect.left == beforeCorner.left) {
      EXPECT_TRUE(PictureMatches(reused, [&](LONG x, LONG y) {
        return x < 100 || y < 60 ? kBlack : reused.Pixel(x, y);
      })) << "step " << index;
    }
    ++index;
  }
  // Between grabs no kept bitmap is left in the device context.
  EXPECT_EQ(selected, ::GetCurrentObject(copyMemory_.get(), OBJ_BITMAP));
}

// A window printed into a region larger than itself leaves the rest black, also where an
// earlier print of a larger window drew into the kept bitmap.
TEST_F(FrameGrabberTest, SmallerWindowLeavesBlackWhereALargerOneWas) {
  const COLORREF magenta = RGB(255, 0, 255);
  TestWindow small(RECT{520, 360, 600, 410}, magenta);
  ASSERT_TRUE(small.WaitUntilShown());
  GrabSurfaces kept;
  auto grab = [&](TestDib& dib, HWND printed) {
    GrabFrame(Request(dib, RECT{0, 0, 200, 120}, printed), kept);
  };
  TestDib large(DibLayout::Rgb32, 200, 120);
  grab(large, window().handle());
  EXPECT_TRUE(PictureMatches(large, [](LONG x, LONG y) { return x < 160 && y < 100 ? window().ColorAt(x, y) : kBlack; }));

  TestDib smaller(DibLayout::Rgb32, 200, 120);
  grab(smaller, small.handle());
  EXPECT_TRUE(PictureMatches(smaller, [&](LONG x, LONG y) { return x < 80 && y < 50 ? magenta : kBlack; }));
}

}  // namespace
