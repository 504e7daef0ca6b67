// The camera's two halves in two processes, as on Windows 11: dorvantel-feed capturing the
// screen (a window of known colours) into the default preset's ring, the media source reading
// it through the source reader; the feed killed, the source keeps delivering, then the plain
// frame.
#include "tests/camera/camera_support.h"
#include "tests/support/test_window.h"

namespace {

constexpr UINT32 kWidth = 1280, kHeight = 720;

bool IsGreyFrame(const std::vector<BYTE>& nv12) {
  const int grey = LumaOf(RGB(48, 48, 48));
  return std::abs(nv12[2 * kWidth + 2] - grey) <= 3 && std::abs(nv12[(kHeight - 3) * kWidth + kWidth - 3] - grey) <= 3;
}

}  // namespace

TEST_F(CameraTest, TheFeedProgramInAnotherProcessThenKilled) {
  const RECT where = {100, 80, 500, 380};
  WindowThread window(where);
  ASSERT_TRUE(window.shown());
  std::wstring command = L"\"" + dorvantel::ProgramFolder() + L"..\\dorvantel-feed.exe\" --name Dorvantel --seconds 60";
  STARTUPINFOW startup = {sizeof startup};
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  UniqueHandle feed(process.hProcess), feedThread(process.hThread);

  ComPtr<IMFMediaSource> source = NewSource();  // the default preset, "Dorvantel"
  ASSERT_TRUE(source);
  ComPtr<IMFSourceReader> reader;
  ASSERT_EQ(::MFCreateSourceReaderFromMediaSource(source.get(), nullptr, reader.put()), S_OK);
  ReadFrame frame;
  int samples = 0;
  bool fromFeed = false;
  for (; samples < 30 * 20 && !fromFeed; ++samples) {  // the feed starts within 20 seconds
    ASSERT_EQ(ReadOne(reader.get(), &frame), S_OK);
    ASSERT_EQ(frame.bytes.size(), kWidth * kHeight * 3 / 2);
    fromFeed = !IsGreyFrame(frame.bytes);
  }
  ASSERT_TRUE(fromFeed) << "no frame of the feed in " << samples << " samples";

  // The window's quadrants where the screen is drawn into the camera's picture, within 5
  // seconds of live frames (a starting capture's first frames may not show it yet).
  const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN), screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
  const TestWindow& shown = window.window();
  auto wrong = [&](bool report) {
    int count = 0;
    for (LONG y : {shown.height() / 4, shown.height() * 3 / 4}) {
      for (LONG x : {shown.width() / 4, shown.width() * 3 / 4}) {
        const UINT32 cx = (where.left + x) * kWidth / screenWidth, cy = (where.top + y) * kHeight / screenHeight;
        const bool off = std::abs(frame.bytes[cy * kWidth + cx] - LumaOf(shown.ColorAt(x, y))) > 3;
        count += off;
        if (report) {
          EXPECT_FALSE(off) << cx << "," << cy << ": " << int{frame.bytes[cy * kWidth + cx]};
        }
      }
    }
    return count;
  };
  for (int i = 0; i < 30 * 5 && wrong(false); ++i) ASSERT_EQ(ReadOne(reader.get(), &frame), S_OK);
  EXPECT_EQ(wrong(true), 0);

  // The other two types, of the same feed: YUY2's luma and RGB32's colours at the same places.
  for (const GUID& subtype : {MFVideoFormat_YUY2, MFVideoFormat_RGB32}) {
    SCOPED_TRACE(subtype.Data1);
    ASSERT_EQ(SelectType(reader.get(), subtype), S_OK);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(ReadOne(reader.get(), &frame), S_OK);
    const bool yuy2 = IsEqualGUID(subtype, MFVideoFormat_YUY2);
    ASSERT_EQ(frame.bytes.size(), kWidth * kHeight * (yuy2 ? 2u : 4u));
    for (LONG y : {shown.height() / 4, shown.height() * 3 / 4}) {
      for (LONG x : {shown.width() / 4, shown.width() * 3 / 4}) {
        const UINT32 cx = (where.left + x) * kWidth / screenWidth, cy = (where.top + y) * kHeight / screenHeight;
        const COLORREF want = shown.ColorAt(x, y);
        if (yuy2) {
          EXPECT_NEAR(frame.bytes[(cy * kWidth + cx) * 2], LumaOf(want), 3) << cx << "," << cy;
        } else {
          const BYTE* pixel = &frame.bytes[(cy * kWidth + cx) * 4];  // top-down BGRX
          EXPECT_NEAR(pixel[2], GetRValue(want), 8) << cx << "," << cy;
          EXPECT_NEAR(pixel[1], GetGValue(want), 8) << cx << "," << cy;
          EXPECT_NEAR(pixel[0], GetBValue(want), 8) << cx << "," << cy;
        }
      }
    }
  }
  ASSERT_EQ(SelectType(reader.get(), MFVideoFormat_NV12), S_OK);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(ReadOne(reader.get(), &frame), S_OK);

  ASSERT_TRUE(::TerminateProcess(feed.get(), 9));
  ASSERT_EQ(::WaitForSingleObject(feed.get(), 5000), WAIT_OBJECT_0);
  int repeated = 0;
  for (int i = 0; i < 30 * 4; ++i) {
    ASSERT_EQ(ReadOne(reader.get(), &frame), S_OK) << i;
    repeated += !IsGreyFrame(frame.bytes);
  }
  EXPECT_GE(repeated, 30 * 2);  // the last frame, for about 3 seconds
  EXPECT_TRUE(IsGreyFrame(frame.bytes));
  reader.reset();
  source->Shutdown();
}
