// What streaming does when its captured place goes away: the captured window is closed, or
// a rectangle or a window ends up off every screen.

#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <memory>
#include <vector>

#include "tests/reliability/support/bounded_wait.h"
#include "tests/support/test_graph.h"
#include "tests/support/library.h"
#include "tests/support/test_window.h"

using namespace dorvantel;

namespace {

constexpr DWORD kCallBoundMs = 15000;
constexpr LONG kWidth = 96, kHeight = 64;

// Pixels of a 32-bit frame that are not the colour.
size_t PixelsOtherThan(const DeliveredFrame& frame, COLORREF colour) {
  if (frame.pixels.size() < kWidth * kHeight * 4) return kWidth * kHeight;
  size_t other = 0;
  for (size_t p = 0; p < kWidth * kHeight; ++p) {
    const BYTE* pixel = &frame.pixels[p * 4];  // blue, green, red
    if (RGB(pixel[2], pixel[1], pixel[0]) != colour) ++other;
  }
  return other;
}

HRESULT WriteTitle(IBaseFilter* filter, const wchar_t* title) {
  ComPtr<IPropertyBag> bag;
  HRESULT hr = ComPtr<IBaseFilter>(filter).query(&bag);
  if (FAILED(hr)) return hr;
  VARIANT value;
  ::VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = ::SysAllocString(title);
  hr = bag->Write(L"WindowTitle", &value);
  ::VariantClear(&value);
  return hr;
}

// Ends the test program if the graph does not stop in time.
HRESULT BoundedStop(TestGraph& graph) {
  Watchdog watchdog("Stop", kCallBoundMs);
  return graph.Stop();
}

// A closed window never comes back: the stream ends with EC_ERRORABORT (ffmpeg then ends its
// recording with a complete file) and no frame drawn from it, black or half printed, is sent.
TEST(CapturedWindowThreadedTest, ClosingTheCapturedWindowEndsTheStream) {
  ComApartment com;
  LoadedLibrary library;
  ASSERT_TRUE(library.loaded());
  const COLORREF colour = RGB(200, 40, 160);
  auto window = std::make_unique<TestWindow>(RECT{500, 300, 500 + kWidth, 300 + kHeight}, colour);
  ASSERT_TRUE(window->WaitUntilShown());
  {
    TestGraph graph(library);
    struct {
      HWND window;
      LONG left, top, right, bottom;
    } region = {window->handle(), 0, 0, kWidth, kHeight};
    ASSERT_EQ(S_OK, graph.WriteLong(L"CaptureArea", 3));
    ASSERT_EQ(S_OK, graph.WritePointer(L"CaptureValue", &region));
    ASSERT_EQ(S_OK, graph.WriteLong(L"FrameRate", 50));
    ASSERT_EQ(S_OK, graph.Connect(0));
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    ASSERT_TRUE(graph.WaitForFrames(3));  // pumps this thread's messages: the window prints

    window.reset();
    LONG_PTR result = 0;
    ASSERT_TRUE(graph.WaitForEvent(EC_ERRORABORT, &result)) << "no EC_ERRORABORT after the window closed";
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE), static_cast<HRESULT>(result));
    const size_t ended = graph.FrameCount();
    PumpMessagesFor(300);
    EXPECT_EQ(ended, graph.FrameCount()) << "frames after the stream ended";
    for (const DeliveredFrame& frame : graph.Frames()) {
      EXPECT_EQ(0u, PixelsOtherThan(frame, colour)) << "a frame that is not the window's";
    }
    EXPECT_EQ(S_OK, BoundedStop(graph));
  }
  EXPECT_EQ(S_OK, library.CanUnloadNow());
}

// The worker prints the window while it holds the settings, and the printing waits for the
// window's thread: a property written from that thread must not wait for the worker then.
TEST(CapturedWindowThreadedTest, PropertiesWrittenFromTheThreadWhoseWindowIsPrinted) {
  ComApartment com;
  LoadedLibrary library;
  ASSERT_TRUE(library.loaded());
  const COLORREF colour = RGB(90, 200, 40);
  TestWindow window(RECT{300, 300, 300 + kWidth, 300 + kHeight}, colour);
  ASSERT_TRUE(window.WaitUntilShown());
  {
    TestGraph graph(library);
    ASSERT_EQ(S_OK, graph.WriteLong(L"CaptureArea", 2));
    ASSERT_EQ(S_OK, WriteTitle(graph.source(), L"Dorvantel test"));
    ASSERT_EQ(S_OK, graph.WriteBool(L"FramePacing", false));  // the worker is nearly always printing
    ASSERT_EQ(S_OK, graph.Connect(0));
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    ASSERT_TRUE(graph.WaitForFrames(2));
    {
      Watchdog watchdog("property writes from the thread whose window is printed", kCallBoundMs);
      for (LONG i = 0; i < 100; ++i) ASSERT_EQ(S_OK, graph.WriteLong(L"FrameRateMode", i % 3));
    }
    const size_t written = graph.FrameCount();
    EXPECT_TRUE(graph.WaitForFrames(written + 2)) << "frames after the writes";
    EXPECT_EQ(S_OK, BoundedStop(graph));
    for (const DeliveredFrame& frame : graph.Frames()) EXPECT_EQ(0u, PixelsOtherThan(frame, colour));
  }
  EXPECT_EQ(S_OK, library.CanUnloadNow());
}

// Off every screen the stream goes on, as it does for a place that a screen covers again
// later: a screen rectangle gives black frames, a window keeps printing its content.
TEST(CapturedWindowThreadedTest, OffEveryScreenTheStreamGoesOn) {
  ComApartment com;
  LoadedLibrary library;
  ASSERT_TRUE(library.loaded());
  const LONG screenW = ::GetSystemMetrics(SM_CXVIRTUALSCREEN), screenH = ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
  const COLORREF colour = RGB(30, 180, 220);
  TestWindow window(RECT{400, 200, 400 + kWidth, 200 + kHeight}, colour);
  ::SetWindowTextW(window.handle(), L"Dorvantel off-screen preset");
  ASSERT_TRUE(window.WaitUntilShown());

  {
    TestGraph graph(library);
    RECT beyond = {screenW + 100, screenH + 100, screenW + 100 + kWidth, screenH + 100 + kHeight};
    ASSERT_EQ(S_OK, graph.WriteLong(L"CaptureArea", 1));
    ASSERT_EQ(S_OK, graph.WritePointer(L"CaptureValue", &beyond));
    ASSERT_EQ(S_OK, graph.WriteLong(L"FrameRate", 50));
    ASSERT_EQ(S_OK, graph.Connect(0));
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    ASSERT_TRUE(graph.WaitForFrames(5)) << "frames of a rectangle off every screen";
    EXPECT_FALSE(graph.WaitForEvent(EC_ERRORABORT, nullptr, 200));
    EXPECT_EQ(S_OK, BoundedStop(graph));
    const auto frames = graph.Frames();
    for (size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(0u, PixelsOtherThan(frames[i], RGB(0, 0, 0))) << "frame " << i << " of nothing is not black";
      if (i > 0) {
        EXPECT_GT(frames[i].start, frames[i - 1].start) << "frame " << i << " is stamped as an older one";
      }
    }
  }

  {
    TestGraph graph(library);
    ASSERT_EQ(S_OK, graph.WriteLong(L"CaptureArea", 2));
    ASSERT_EQ(S_OK, WriteTitle(graph.source(), L"Dorvantel off-screen preset"));
    ASSERT_EQ(S_OK, graph.WriteLong(L"FrameRate", 50));
    ASSERT_EQ(S_OK, graph.Connect(0));
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    ASSERT_TRUE(graph.WaitForFrames(2));
    ::SetWindowPos(window.handle(), nullptr, -screenW - 1000, -screenH - 1000, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    const size_t moved = graph.FrameCount();
    ASSERT_TRUE(graph.WaitForFrames(moved + 5)) << "frames of the window off every screen";
    EXPECT_FALSE(graph.WaitForEvent(EC_ERRORABORT, nullptr, 200));
    EXPECT_EQ(S_OK, BoundedStop(graph));
    const auto frames = graph.Frames();
    for (size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(0u, PixelsOtherThan(frames[i], colour)) << "frame " << i << " is not the window's";
    }
  }
  EXPECT_EQ(S_OK, library.CanUnloadNow());
}

}  // namespace
