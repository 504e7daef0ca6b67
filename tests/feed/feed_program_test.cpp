// dorvantel-feed (feed/) as the camera's media source meets it: a separate process whose frames
// of the screen arrive in the preset's ring as NV12 at the device's rate, showing a window of
// known colours; a second feed for the same preset, bad options and an unknown device refused
// by their exit statuses; closing its window ends it; the heartbeat stops when the feed is
// killed, the last frame stays.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/camera_link.h"
#include "base/frame_ring.h"
#include "tests/support/test_window.h"

namespace {

std::wstring FeedProgram() {
  wchar_t path[MAX_PATH];
  DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\') + 1) + L"..\\dorvantel-feed.exe";
}

// A feed process, killed with the object if it still runs.
class FeedProcess {
 public:
  explicit FeedProcess(const std::wstring& arguments) {
    std::wstring command = L"\"" + FeedProgram() + L"\" " + arguments;
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    if (::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      process_.reset(process.hProcess);
      ::CloseHandle(process.hThread);
    }
  }
  ~FeedProcess() { Kill(); }
  bool started() const { return process_.valid(); }
  // The exit status, or STILL_ACTIVE when it has not ended within ms.
  DWORD Wait(DWORD ms) {
    DWORD code = STILL_ACTIVE;
    if (process_ && ::WaitForSingleObject(process_.get(), ms) == WAIT_OBJECT_0) ::GetExitCodeProcess(process_.get(), &code);
    return code;
  }
  void Kill() {
    if (process_ && Wait(0) == STILL_ACTIVE) {
      ::TerminateProcess(process_.get(), 9);
      ::WaitForSingleObject(process_.get(), 5000);
    }
  }

 private:
  UniqueHandle process_;
};

// Opens the preset's ring once the feed made it and wrote a frame; false after timeoutMs.
bool WaitForFrames(const std::wstring& preset, FrameRing* ring, DWORD timeoutMs) {
  ULONGLONG end = ::GetTickCount64() + timeoutMs;
  while (::GetTickCount64() < end) {
    if (ring->attached() || SUCCEEDED(ring->Open(camera_link::FrameSectionName(preset)))) {
      if (ring->NewestNumber() > 0) return true;
    }
    ::Sleep(50);
  }
  return false;
}

BYTE LumaOf(COLORREF c) { return static_cast<BYTE>(16 + ((66 * GetRValue(c) + 129 * GetGValue(c) + 25 * GetBValue(c) + 128) >> 8)); }
BYTE BlueDifferenceOf(COLORREF c) {
  return static_cast<BYTE>(128 + ((-38 * GetRValue(c) - 74 * GetGValue(c) + 112 * GetBValue(c) + 128) >> 8));
}

}  // namespace

TEST(FeedThreaded, FramesOfTheScreenArriveInTheRingAtTheRateThenTheHeartbeatStops) {
  const RECT where = {120, 100, 320, 260};
  WindowThread window(where);
  ASSERT_TRUE(window.shown());
  FeedProcess feed(L"--name Dorvantel --seconds 30");
  ASSERT_TRUE(feed.started());
  FrameRing ring;
  ASSERT_TRUE(WaitForFrames(L"Dorvantel", &ring, 20000)) << "no frame from the feed";

  const uint32_t width = ::GetSystemMetrics(SM_CXSCREEN), height = ::GetSystemMetrics(SM_CYSCREEN);
  std::vector<BYTE> frame(ring.frameCapacity());
  RingFrameInfo info;
  ASSERT_EQ(ring.ReadNewest(0, frame.data(), frame.size(), &info), S_OK);
  EXPECT_EQ(info.format.subtype, FrameRing::kNv12);
  EXPECT_EQ(info.format.width, width);
  EXPECT_EQ(info.format.height, height);
  EXPECT_EQ(info.format.stride, width);
  EXPECT_EQ(info.format.bytes, width * height * 3 / 2);

  // The device's default rate is 10 frames a second.
  uint64_t first = info.number;
  ::Sleep(2000);
  ASSERT_EQ(ring.ReadNewest(0, frame.data(), frame.size(), &info), S_OK);
  uint64_t frames = info.number - first;
  EXPECT_GE(frames, 12u);
  EXPECT_LE(frames, 30u);
  EXPECT_LT(FrameRing::Now() - ring.Heartbeat(), 5000000);  // beating within half a second

  // Each quadrant's centre in the luma plane and the interleaved U of its 2x2 block.
  const TestWindow& shown = window.window();
  const LONG qx[] = {shown.width() / 4, shown.width() * 3 / 4}, qy[] = {shown.height() / 4, shown.height() * 3 / 4};
  for (LONG y : qy) {
    for (LONG x : qx) {
      COLORREF expected = shown.ColorAt(x, y);
      LONG sx = where.left + x, sy = where.top + y;
      EXPECT_NEAR(frame[sy * width + sx], LumaOf(expected), 2) << "luma at " << sx << "," << sy;
      EXPECT_NEAR(frame[width * height + (sy / 2) * width + (sx & ~1)], BlueDifferenceOf(expected), 2)
          << "U at " << sx << "," << sy;
    }
  }

  feed.Kill();
  int64_t heartbeat = ring.Heartbeat();
  uint64_t newest = ring.NewestNumber();
  ::Sleep(600);
  EXPECT_EQ(ring.Heartbeat(), heartbeat);
  EXPECT_EQ(ring.NewestNumber(), newest);
  EXPECT_EQ(ring.ReadNewest(0, frame.data(), frame.size(), &info), S_OK);
  EXPECT_EQ(info.number, newest);
}

TEST(FeedThreaded, ASecondFeedOfAPresetExitsAndTheFirstEndsOnTime) {
  FeedProcess first(L"--seconds 6");
  ASSERT_TRUE(first.started());
  FrameRing ring;
  ASSERT_TRUE(WaitForFrames(L"Dorvantel", &ring, 20000));
  FeedProcess second(L"--name Dorvantel --seconds 6");
  EXPECT_EQ(second.Wait(20000), 3u);
  EXPECT_EQ(first.Wait(0), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(first.Wait(20000), 0u);  // --seconds ends it cleanly
}

// The control code ends a feed by closing its window, found by the preset's title.
TEST(FeedThreaded, ClosingTheFeedsWindowEndsItCleanly) {
  FeedProcess feed(L"--name Dorvantel --seconds 60");
  ASSERT_TRUE(feed.started());
  FrameRing ring;
  ASSERT_TRUE(WaitForFrames(L"Dorvantel", &ring, 20000));
  HWND window = ::FindWindowW(nullptr, camera_link::FeedWindowTitle(L"Dorvantel").c_str());
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(::PostMessageW(window, WM_CLOSE, 0, 0));
  EXPECT_EQ(feed.Wait(10000), 0u);
}

TEST(FeedThreaded, BadOptionsAndAnUnknownDeviceAreRefused) {
  EXPECT_EQ(FeedProcess(L"--seconds").Wait(20000), 2u);
  EXPECT_EQ(FeedProcess(L"--seconds 0").Wait(20000), 2u);
  EXPECT_EQ(FeedProcess(L"--name a\\b").Wait(20000), 2u);
  EXPECT_EQ(FeedProcess(L"--frames 3").Wait(20000), 2u);
  EXPECT_EQ(FeedProcess(L"--name \"No such Dorvantel device\" --seconds 2").Wait(20000), 1u);
}
