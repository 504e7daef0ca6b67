#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tests/module/module_test.h"
#include "hostkit/pins.h"
#include "tests/support/test_graph.h"
#include "tests/support/stream_peer.h"
#include "tests/support/test_dib.h"
#include "tests/support/test_window.h"

using namespace dorvantel;

namespace {

using StreamingThreadedTest = ModuleThreadedTest;

TEST_F(StreamingThreadedTest, FramesFlowThroughARealGraphAndStopCleanly) {
  {
    TestGraph graph(library_);
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

// The process's user and kernel time so far, in 100-ns units.
ULONGLONG ProcessCpuTime() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  const auto units = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return units(kernel) + units(user);
}

// What a span of streaming showed: frames a second by their arrival, CPU seconds a second.
struct StreamingSpan {
  double framesPerSecond = 0;
  double cpuPerSecond = 0;
};

// A small screen rectangle (grabs far shorter than any interval here) in a graph with no
// clock, frames not kept: the frame rate alone can pace them.
void SetUpSmallGraph(TestGraph& graph) {
  graph.KeepPixels(false);
  RECT small = {0, 0, 64, 48};
  ASSERT_EQ(S_OK, graph.WriteLong(L"CaptureArea", 1));
  ASSERT_EQ(S_OK, graph.WritePointer(L"CaptureValue", &small));
}

// Runs the graph for about milliseconds after its first frames and stops it. The rate is
// taken from the third frame on: the first two (the paused frame, the first running one)
// come at once.
StreamingSpan StreamFor(TestGraph& graph, DWORD milliseconds) {
  StreamingSpan span;
  graph.ClearFrames();
  EXPECT_TRUE(SUCCEEDED(graph.Run()));
  EXPECT_TRUE(graph.WaitForFrames(3));
  const ULONGLONG cpuBefore = ProcessCpuTime();
  const ULONGLONG wallBefore = GetTickCount64();
  PumpMessagesFor(milliseconds);
  const ULONGLONG cpu = ProcessCpuTime() - cpuBefore;
  const ULONGLONG wall = GetTickCount64() - wallBefore;
  EXPECT_EQ(S_OK, graph.Stop());
  const std::vector<DeliveredFrame> frames = graph.Frames();
  if (frames.size() < 4 || wall == 0) return span;
  // The median gap between arrivals: one frame late on a loaded machine (its successor then
  // comes sooner, on the schedule) moves it little, unlike the span from first to last.
  std::vector<ULONGLONG> gaps;
  for (size_t i = 3; i < frames.size(); ++i) gaps.push_back(frames[i].arrival - frames[i - 1].arrival);
  std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
  const ULONGLONG gap = gaps[gaps.size() / 2];
  // Arrival ticks are whole milliseconds: an unpaced gap of 0 counts as the span's average.
  const ULONGLONG arrivals = frames.back().arrival - frames[2].arrival;
  if (gap != 0) {
    span.framesPerSecond = 1000.0 / static_cast<double>(gap);
  } else if (arrivals != 0) {
    span.framesPerSecond = (frames.size() - 3) * 1000.0 / static_cast<double>(arrivals);
  } else {
    span.framesPerSecond = 1e9;
  }
  span.cpuPerSecond = cpu / 10000.0 / static_cast<double>(wall);
  return span;
}

// Hosts take every sample as it comes; the worker makes FrameRate frames a second on its own
// and idles in between, unless pacing is turned off.
TEST_F(StreamingThreadedTest, FrameRateFramesASecondIntoASinkWithoutAClockAndFewerCpuCycles) {
  StreamingSpan unpaced;
  {
    TestGraph graph(library_);
    SetUpSmallGraph(graph);
    ASSERT_EQ(S_OK, graph.WriteBool(L"FramePacing", false));
    ASSERT_EQ(S_OK, graph.Connect(0));
    unpaced = StreamFor(graph, 500);
    EXPECT_GT(unpaced.framesPerSecond, 50.0) << "unpaced frames come as fast as they are taken, not 10 a second";
  }
  for (LONG rate : {5, 30, 60}) {
    SCOPED_TRACE(testing::Message() << rate << " frames a second");
    TestGraph graph(library_);
    SetUpSmallGraph(graph);
    ASSERT_EQ(S_OK, graph.WriteLong(L"FrameRate", rate));
    ASSERT_EQ(S_OK, graph.Connect(0));
    // Ten frame intervals and more in each span.
    const StreamingSpan paced = StreamFor(graph, rate < 10 ? 2000 : 1000);
    EXPECT_NEAR(rate, paced.framesPerSecond, rate * 0.05);
    std::printf("[pacing] %ld a second: %.2f frames, %.3f CPU; unpaced %.0f frames, %.3f CPU\n", rate,
                paced.framesPerSecond, paced.cpuPerSecond, unpaced.framesPerSecond, unpaced.cpuPerSecond);
    if (rate == 5) {
      EXPECT_LT(paced.cpuPerSecond, unpaced.cpuPerSecond / 2) << "a paced worker idles between its frames";
    }
  }
}

// At one frame a second the worker spends nearly all its time waiting for the next slot.
TEST_F(StreamingThreadedTest, AWorkerWaitingForItsNextFrameAnswersPauseRunANewRateAndStopAtOnce) {
  TestGraph graph(library_);
  SetUpSmallGraph(graph);
  ASSERT_EQ(S_OK, graph.WriteLong(L"FrameRate", 1));
  ASSERT_EQ(S_OK, graph.Connect(0));
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(graph.WaitForFrames(1));
  PumpMessagesFor(200);
  ASSERT_TRUE(SUCCEEDED(graph.Pause()));
  PumpMessagesFor(100);  // a frame made as the pause came may still arrive
  const size_t beforeRun = graph.FrameCount();
  const ULONGLONG runAt = GetTickCount64();
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  ASSERT_TRUE(graph.WaitForFrames(beforeRun + 1, 5000));
  EXPECT_LT(graph.Frames()[beforeRun].arrival - runAt, 400u) << "the first frame after Pause and Run comes at once";

  PumpMessagesFor(200);
  const size_t beforeRate = graph.FrameCount();
  const ULONGLONG rateAt = GetTickCount64();
  ASSERT_EQ(S_OK, graph.WriteLong(L"FrameRate", 30));
  ASSERT_TRUE(graph.WaitForFrames(beforeRate + 1, 5000));
  EXPECT_LT(graph.Frames()[beforeRate].arrival - rateAt, 400u) << "a new rate does not wait out the old interval";

  ASSERT_EQ(S_OK, graph.WriteLong(L"FrameRate", 1));
  PumpMessagesFor(200);
  const ULONGLONG stopAt = GetTickCount64();
  EXPECT_EQ(S_OK, graph.Stop());
  EXPECT_LT(GetTickCount64() - stopAt, 400u) << "Stop does not wait for the next frame's slot";
}

// At the pin's positions: its own list of five.
const DibLayout kLayouts[] = {DibLayout::Rgb32, DibLayout::Rgb24, DibLayout::Rgb565, DibLayout::Rgb555Masks,
                              DibLayout::Palette8};
constexpr int kPositions = 5;

// A delivered frame read back in its layout; an 8-bit frame takes the colour table of the
// type the grabber connected with, as a host looks its indices up.
bool Decode(const DeliveredFrame& frame, TestGraph& graph, DibLayout layout, TestDib* dib) {
  if (frame.pixels.size() < dib->bitsBytes()) return false;
  std::memcpy(dib->bits(), frame.pixels.data(), dib->bitsBytes());
  if (layout == DibLayout::Palette8) {
    AM_MEDIA_TYPE type{};
    ComPtr<IPin> input;
    if (SUCCEEDED(graph.sourcePin()->ConnectedTo(input.put()))) input->ConnectionMediaType(&type);
    const bool hasPalette = type.pbFormat && type.cbFormat >= sizeof(VIDEOINFOHEADER) + 256 * sizeof(RGBQUAD);
    if (hasPalette) {
      std::memcpy(dib->info()->bmiColors, type.pbFormat + sizeof(VIDEOINFOHEADER), 256 * sizeof(RGBQUAD));
    }
    ReleaseMediaTypeFormat(&type);
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
      for (int position = 0; position < kPositions; ++position) {
        const DibLayout layout = kLayouts[position];
        SCOPED_TRACE(testing::Message() << "area " << area << (scaled ? " scaled " : " ") << LayoutName(layout));
        TestGraph graph(library_);
        ASSERT_EQ(S_OK, graph.WriteBool(L"FramePacing", false));  // the second frame at once
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

// The colour table of an 8-bit connection, as the grab wrote it into the pin's type.
std::vector<BYTE> ConnectionColours(IPin* pin) {
  AM_MEDIA_TYPE type = {};
  if (FAILED(pin->ConnectionMediaType(&type))) return {};
  std::vector<BYTE> colours;
  if (type.pbFormat && type.cbFormat >= sizeof(VIDEOINFOHEADER) + 256 * sizeof(RGBQUAD)) {
    colours.assign(type.pbFormat + sizeof(VIDEOINFOHEADER), type.pbFormat + sizeof(VIDEOINFOHEADER) + 256 * sizeof(RGBQUAD));
  }
  ReleaseMediaTypeFormat(&type);
  return colours;
}

// One frame of a screen rectangle from a new filter connected straight to sink in the format at
// position: its bytes, and the colour table the grab left in the pin's type. What the sink's
// NotifyAllocator saw stays in the sink.
struct StreamedFrame {
  std::vector<BYTE> bytes;
  std::vector<BYTE> colours;
  bool stamped = false;
};
void StreamOneFrame(const LoadedLibrary& library, StreamPeer& sink, const RECT& captured, int position, bool cursor,
                    StreamedFrame* frame, const wchar_t* format = nullptr) {
  sink.KeepPixels(true);
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(S_OK, library.CreateFilter(&filter));
  if (format) {
    ASSERT_EQ(S_OK, SourceSettings(filter.get()).WriteText(L"OutputFormat", format));
  }
  ASSERT_EQ(S_OK, SourceSettings(filter.get()).WriteBool(L"FramePacing", false));
  ASSERT_EQ(S_OK, SourceSettings(filter.get()).WriteBool(L"IncludeCursor", cursor));
  ASSERT_EQ(S_OK, WriteProperty(filter.get(), L"CaptureArea", 1));
  RECT value = captured;
  ASSERT_EQ(S_OK, WriteProperty(filter.get(), L"CaptureValue", &value));
  ComPtr<IPin> pin = OutputPin(filter.get());
  TaskMediaType type;
  ASSERT_EQ(S_OK, OfferedType(pin.get(), position, &type));
  ASSERT_EQ(S_OK, pin->Connect(&sink, type.get()));
  const HRESULT ran = filter->Run(0);
  const bool received = SUCCEEDED(ran) && sink.WaitForReceived(2);
  filter->Stop();
  frame->colours = ConnectionColours(pin.get());
  pin->Disconnect();
  ASSERT_TRUE(received);
  const StreamPeer::Sample second = sink.Received()[1];
  frame->bytes = second.bytes;
  frame->stamped = second.hasTime;
}

// A sink without an allocator of its own (as ffmpeg's, OBS's and VLC's) streams on the pin's
// own allocator, whose buffers the screen is copied into in one pass: its frames carry, byte
// for byte, what the frames on Wine's memory allocator (the two passes) carry, in every format,
// with the cursor and without; both allocators hold the pin's two buffers of a whole frame.
// The formats beyond the pin's list (5-5-5 with BI_RGB, the YUV ones) are chosen by name.
TEST_F(StreamingThreadedTest, FramesOnThePinsOwnAllocatorAreThoseOfTheTwoPasses) {
  TestWindow window = TestWindow::Quadrants(RECT{220, 140, 380, 260});  // 160 x 120
  ASSERT_TRUE(window.WaitUntilShown());
  TestCursor cursor(POINT{5, 7}, RECT{4, 6, 12, 14});
  window.UseCursor(cursor.handle());
  ASSERT_TRUE(window.PointAt(70, 50));
  const RECT captured = {200, 120, 360, 240};  // the window's top left, and the screen beside it
  const struct {
    int position;
    const wchar_t* name;
    LONG bytes;
  } formats[] = {{0, nullptr, 160 * 120 * 4}, {1, nullptr, 160 * 120 * 3},     {2, nullptr, 160 * 120 * 2},
                 {3, nullptr, 160 * 120 * 2}, {4, nullptr, 160 * 120},         {0, L"rgb555", 160 * 120 * 2},
                 {0, L"i420", 160 * 180},     {0, L"nv12", 160 * 180},         {0, L"yuy2", 160 * 120 * 2}};

  for (bool withCursor : {false, true}) {
    for (const auto& f : formats) {
      const int position = f.position;
      const LONG* frameBytes = &f.bytes - position;  // frameBytes[position] is this format's
      SCOPED_TRACE(testing::Message() << "format " << position << " " << (f.name ? f.name : L"")
                                      << (withCursor ? " with cursor" : ""));
      StreamPeer twoPasses;  // offers Wine's memory allocator
      StreamedFrame reference;
      StreamOneFrame(library_, twoPasses, captured, position, withCursor, &reference, f.name);
      StreamPeer ownAllocator;
      ownAllocator.OfferNoAllocator();
      StreamedFrame frame;
      StreamOneFrame(library_, ownAllocator, captured, position, withCursor, &frame, f.name);
      if (HasFatalFailure()) return;
      for (const StreamPeer* sink : {&twoPasses, &ownAllocator}) {
        EXPECT_EQ(2, sink->NotifiedProperties().cBuffers);
        EXPECT_GE(sink->NotifiedProperties().cbBuffer, frameBytes[position]);
      }
      EXPECT_TRUE(frame.stamped);
      ASSERT_GE(reference.bytes.size(), static_cast<size_t>(frameBytes[position]));
      ASSERT_GE(frame.bytes.size(), static_cast<size_t>(frameBytes[position]));
      EXPECT_TRUE(std::equal(reference.bytes.begin(), reference.bytes.begin() + frameBytes[position], frame.bytes.begin()))
          << "pixels differ";
      EXPECT_EQ(reference.colours, frame.colours) << "colour tables differ";
      EXPECT_EQ(1, twoPasses.References());
      EXPECT_EQ(1, ownAllocator.References());
    }
  }
}

// BT.601 limited range, as hosts read untagged YUV.
struct Yuv {
  int y, u, v;
};
Yuv Bt601(COLORREF c) {
  const int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
  return {16 + ((66 * r + 129 * g + 25 * b + 128) >> 8), 128 + ((-38 * r - 74 * g + 112 * b + 128) >> 8),
          128 + ((112 * r - 94 * g - 18 * b + 128) >> 8)};
}

// Each YUV format, through Wine's graph: the window's quadrants at their places, in the layout's
// planes, scaled and not, at an even size and an odd one.
TEST_F(StreamingThreadedTest, YuvFramesShowTheWindowInTheirLayouts) {
  TestWindow window = TestWindow::Quadrants(RECT{200, 120, 360, 240});  // 160 x 120
  ASSERT_TRUE(window.WaitUntilShown());
  const RECT captured = window.screenRect();
  for (const wchar_t* name : {L"i420", L"nv12", L"yuy2"}) {
    for (SIZE size : {SIZE{160, 120}, SIZE{81, 61}}) {
      SCOPED_TRACE(testing::Message() << name << " " << size.cx << "x" << size.cy);
      TestGraph graph(library_);
      graph.KeepPixels(true);
      ASSERT_EQ(S_OK, graph.WriteBool(L"FramePacing", false));
      ASSERT_EQ(S_OK, SourceSettings(graph.source()).WriteText(L"OutputFormat", name));
      ASSERT_EQ(S_OK, graph.WriteLong(L"CaptureArea", 1));
      RECT value = captured;
      ASSERT_EQ(S_OK, graph.WritePointer(L"CaptureValue", &value));
      LONG dimensions[2] = {size.cx, size.cy};
      if (size.cx != 160) {
        ASSERT_EQ(S_OK, graph.WritePointer(L"OutputDimensions", dimensions));
      }
      ASSERT_EQ(S_OK, graph.Connect(0));
      ASSERT_TRUE(SUCCEEDED(graph.Run()));
      ASSERT_TRUE(graph.WaitForFrames(2));
      ASSERT_EQ(S_OK, graph.Stop());
      const std::vector<BYTE> pixels = graph.Frames()[1].pixels;
      const LONG w = size.cx, h = size.cy, cw = (w + 1) / 2, ch = (h + 1) / 2;
      const size_t bytes = name[0] == L'y' ? static_cast<size_t>(4 * cw * h) : static_cast<size_t>(w * h + 2 * cw * ch);
      ASSERT_GE(pixels.size(), bytes);
      for (const POINT quarter : {POINT{1, 1}, POINT{3, 1}, POINT{1, 3}, POINT{3, 3}}) {
        const LONG x = quarter.x * w / 4, y = quarter.y * h / 4;  // a quadrant's centre, top row first
        const Yuv want = Bt601(window.ColorAt(quarter.x * 40, quarter.y * 30));
        Yuv seen{};
        if (name[0] == L'i') {
          seen = {pixels[y * w + x], pixels[w * h + (y / 2) * cw + x / 2], pixels[w * h + cw * ch + (y / 2) * cw + x / 2]};
        } else if (name[0] == L'n') {
          const size_t uv = static_cast<size_t>(w * h + (y / 2) * 2 * cw + (x / 2) * 2);
          seen = {pixels[y * w + x], pixels[uv], pixels[uv + 1]};
        } else {
          const size_t pair = static_cast<size_t>(y * 4 * cw + (x / 2) * 4);
          seen = {pixels[pair + (x % 2) * 2], pixels[pair + 1], pixels[pair + 3]};
        }
        EXPECT_NEAR(want.y, seen.y, 1) << "Y at " << x << "," << y;
        EXPECT_NEAR(want.u, seen.u, 1) << "U at " << x << "," << y;
        EXPECT_NEAR(want.v, seen.v, 1) << "V at " << x << "," << y;
      }
    }
  }
}

}  // namespace
