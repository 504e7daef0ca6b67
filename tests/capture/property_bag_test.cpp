#include <gtest/gtest.h>

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "capture/desktop_capture.h"
#include "capture/property_bag.h"
#include "format/desktop_formats.h"
#include "tests/support/test_window.h"

namespace {

// Variants as a careless host fills them: vt says nothing, only the value field counts.
VARIANT Value(LONG value) {
  VARIANT v;
  std::memset(&v, 0, sizeof(v));
  v.lVal = value;
  return v;
}
VARIANT Flag(VARIANT_BOOL value) {
  VARIANT v;
  std::memset(&v, 0, sizeof(v));
  v.vt = VT_BOOL;
  v.boolVal = value;
  return v;
}
VARIANT Pointer(void* pointer) {
  VARIANT v;
  std::memset(&v, 0, sizeof(v));
  v.vt = VT_BYREF;
  v.byref = pointer;
  return v;
}

class CapturePropertyBagTest : public ::testing::Test {
 protected:
  HRESULT Write(LPCOLESTR name, VARIANT value) { return bag_.Write(capture_, name, &value); }
  HRESULT Read(LPCOLESTR name, VARIANT* value) { return bag_.Read(capture_, name, value, nullptr); }
  LONG ReadRate() {
    VARIANT v = Value(0);
    EXPECT_EQ(S_OK, Read(L"FrameRate", &v));
    EXPECT_EQ(VT_INT, v.vt);
    return v.intVal;
  }
  const CaptureSettings& settings() { return capture_.Settings(); }
  void ExpectRect(LONG left, LONG top, LONG right, LONG bottom) {
    const CaptureSettings::Rect& r = settings().CaptureRect;
    EXPECT_EQ(left, r.left);
    EXPECT_EQ(top, r.top);
    EXPECT_EQ(right, r.right);
    EXPECT_EQ(bottom, r.bottom);
    EXPECT_EQ(right - left, r.width);
    EXPECT_EQ(bottom - top, r.height);
  }

  DesktopCapture capture_;
  CapturePropertyBag bag_;
};

TEST_F(CapturePropertyBagTest, FrameRateIsStoredAsAnIntervalAndReadBackAsARate) {
  const struct {
    LONG rate;
    LONGLONG interval;
    LONG readBack;
  } cases[] = {{30, 333333, 30},   {15, 666666, 15},     {7, 1428571, 7},     {25, 400000, 25},
               {6000, 1666, 6002}, {10000000, 1, 10000000}};
  for (const auto& c : cases) {
    EXPECT_EQ(S_OK, Write(L"FrameRate", Value(c.rate)));
    EXPECT_EQ(c.interval, settings().FrameInterval) << c.rate;
    EXPECT_EQ(c.readBack, ReadRate()) << c.rate;
  }
  // "FrameRateMode" is no key of Read and begins with "FrameRate".
  VARIANT v = Value(0);
  EXPECT_EQ(S_OK, Read(L"FrameRateMode", &v));
  EXPECT_EQ(VT_INT, v.vt);
  EXPECT_EQ(10000000, v.intVal);
}

TEST_F(CapturePropertyBagTest, EveryRateUpTo3198ReadsBackUnchanged) {
  LONG firstChanged = 0;
  for (LONG rate = 1; rate <= 3199 && firstChanged == 0; ++rate) {
    Write(L"FrameRate", Value(rate));
    if (ReadRate() != rate) firstChanged = rate;
  }
  EXPECT_EQ(3199, firstChanged);
}

// Zero, negative rates (a negative interval: stamps running backwards) and rates without an
// interval change nothing.
TEST_F(CapturePropertyBagTest, RateWithoutAPositiveIntervalIsRefused) {
  Write(L"FrameRate", Value(30));
  for (LONG rate : {0L, -1L, -5L, 10000001L, -10000001L, LONG_MIN, LONG_MAX}) {
    EXPECT_EQ(E_INVALIDARG, Write(L"FrameRate", Value(rate))) << rate;
    EXPECT_EQ(333333, settings().FrameInterval) << rate;
  }
  EXPECT_EQ(30, ReadRate());
}

TEST_F(CapturePropertyBagTest, FlagsTakeAnyNonZeroValueAndReadBackAsOne) {
  EXPECT_EQ(S_OK, Write(L"IncludeCursor", Flag(VARIANT_TRUE)));
  EXPECT_TRUE(settings().IncludeCursor);
  EXPECT_EQ(S_OK, Write(L"CaptureTransparentWindows", Value(2)));
  EXPECT_TRUE(settings().CaptureTransparentWindows);

  // Read writes vt and the value field and nothing else.
  VARIANT v;
  std::memset(&v, 0xCC, sizeof(v));
  EXPECT_EQ(S_OK, Read(L"IncludeCursor", &v));
  EXPECT_EQ(VT_BOOL, v.vt);
  EXPECT_EQ(1, v.boolVal);
  EXPECT_EQ(0xCCCC, v.wReserved1);
  EXPECT_EQ(0xCCCC, v.wReserved3);
  const BYTE* bytes = reinterpret_cast<const BYTE*>(&v);
  EXPECT_EQ(0xCC, bytes[10]);
  EXPECT_EQ(0xCC, bytes[sizeof(v) - 1]);
  EXPECT_EQ(S_OK, Read(L"CaptureTransparentWindows", &v));
  EXPECT_EQ(1, v.boolVal);

  EXPECT_EQ(S_OK, Write(L"IncludeCursor", Flag(VARIANT_FALSE)));
  EXPECT_FALSE(settings().IncludeCursor);
  EXPECT_EQ(S_OK, Read(L"IncludeCursor", &v));
  EXPECT_EQ(VT_BOOL, v.vt);
  EXPECT_EQ(0, v.boolVal);

  // Frame pacing is on until a host turns it off.
  EXPECT_EQ(S_OK, Read(L"FramePacing", &v));
  EXPECT_EQ(VT_BOOL, v.vt);
  EXPECT_EQ(1, v.boolVal);
  EXPECT_EQ(S_OK, Write(L"FramePacing", Flag(VARIANT_FALSE)));
  EXPECT_FALSE(settings().FramePacing);
  EXPECT_EQ(S_OK, Read(L"FramePacing", &v));
  EXPECT_EQ(0, v.boolVal);
  EXPECT_EQ(S_OK, Write(L"FramePacing", Value(4)));
  EXPECT_TRUE(settings().FramePacing);
}

TEST_F(CapturePropertyBagTest, ReadOfOtherNamesIsSFalseAndLeavesTheVariant) {
  for (LPCOLESTR name : {L"CaptureArea", L"CaptureValue", L"OutputDimensions", L"InterpolationMode", L"Frame", L""}) {
    VARIANT v;
    std::memset(&v, 0xCC, sizeof(v));
    EXPECT_EQ(S_FALSE, Read(name, &v));
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&v);
    for (size_t i = 0; i < sizeof(v); ++i) ASSERT_EQ(0xCC, bytes[i]);
  }
}

TEST_F(CapturePropertyBagTest, NamesMatchByPrefixAndCase) {
  EXPECT_EQ(S_FALSE, Write(L"includecursor", Flag(VARIANT_TRUE)));
  EXPECT_EQ(S_FALSE, Write(L"Include", Flag(VARIANT_TRUE)));
  EXPECT_EQ(S_FALSE, Write(L"", Flag(VARIANT_TRUE)));
  EXPECT_FALSE(settings().IncludeCursor);
  EXPECT_EQ(S_OK, Write(L"IncludeCursorPlease", Flag(VARIANT_TRUE)));
  EXPECT_TRUE(settings().IncludeCursor);

  // "FrameRateMode" is tried before "FrameRate".
  EXPECT_EQ(S_OK, Write(L"FrameRateMode", Value(2)));
  EXPECT_EQ(2, settings().FrameRateMode);
  EXPECT_EQ(1000000, settings().FrameInterval);
  EXPECT_EQ(S_OK, Write(L"FrameRates", Value(20)));
  EXPECT_EQ(500000, settings().FrameInterval);
  EXPECT_EQ(2, settings().FrameRateMode);
  EXPECT_EQ(S_FALSE, Write(L"FrameRat", Value(40)));
  EXPECT_EQ(500000, settings().FrameInterval);
}

TEST_F(CapturePropertyBagTest, CaptureValueIsReadByTheLastCaptureArea) {
  RECT rect = {100, 50, 740, 530};
  // Before any CaptureArea, area 0: accepted and ignored.
  EXPECT_EQ(S_OK, Write(L"CaptureValue", Pointer(&rect)));
  ExpectRect(0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));

  EXPECT_EQ(S_OK, Write(L"CaptureArea", Value(1)));
  EXPECT_EQ(1, bag_.LastCaptureArea());
  EXPECT_EQ(1, settings().CaptureArea);
  EXPECT_EQ(S_OK, Write(L"CaptureValue", Pointer(&rect)));
  ExpectRect(100, 50, 740, 530);
  EXPECT_EQ(nullptr, settings().CaptureWindow);

  // Back to area 0: the rectangle stays in force.
  EXPECT_EQ(S_OK, Write(L"CaptureArea", Value(0)));
  ExpectRect(100, 50, 740, 530);

  // Area 2: the window handle in lVal; the rectangle is kept.
  EXPECT_EQ(S_OK, Write(L"CaptureArea", Value(2)));
  EXPECT_EQ(S_OK, Write(L"CaptureValue", Value(0x00012345)));
  EXPECT_EQ(reinterpret_cast<HWND>(0x00012345), settings().CaptureWindow);
  ExpectRect(100, 50, 740, 530);

  // Inverted rectangles are stored as given.
  EXPECT_EQ(S_OK, Write(L"CaptureArea", Value(1)));
  RECT inverted = {300, 400, 100, 200};
  EXPECT_EQ(S_OK, Write(L"CaptureValue", Pointer(&inverted)));
  ExpectRect(300, 400, 100, 200);
  EXPECT_EQ(-200, settings().CaptureRect.width);
}

// On a display of one monitor: the monitor is the display, and so is the desktop.
TEST_F(CapturePropertyBagTest, MonitorAndDesktopAreasTakeTheirRectangleFromTheLayout) {
  const LONG width = ::GetSystemMetrics(SM_CXSCREEN);
  const LONG height = ::GetSystemMetrics(SM_CYSCREEN);
  RECT rect = {10, 20, 30, 40};
  Write(L"CaptureArea", Value(1));
  Write(L"CaptureValue", Pointer(&rect));
  // Area 4 before any number: monitor 1, the primary.
  EXPECT_EQ(S_OK, Write(L"CaptureArea", Value(4)));
  EXPECT_EQ(4, bag_.LastCaptureArea());
  ExpectRect(0, 0, width, height);
  EXPECT_FALSE(settings().MonitorMissing);
  for (LONG number : {0L, -1L, SourceLimits::kMaxMonitor + 1}) {
    EXPECT_EQ(E_INVALIDARG, Write(L"CaptureValue", Value(number))) << number;
  }
  EXPECT_EQ(1, settings().CaptureMonitor);
  // A monitor that is not there: black frames of the primary's size.
  EXPECT_EQ(S_OK, Write(L"CaptureValue", Value(2)));
  EXPECT_EQ(2, settings().CaptureMonitor);
  EXPECT_TRUE(settings().MonitorMissing);
  ExpectRect(0, 0, width, height);
  EXPECT_EQ(S_OK, Write(L"CaptureValue", Value(1)));
  EXPECT_FALSE(settings().MonitorMissing);

  Write(L"CaptureArea", Value(1));
  Write(L"CaptureValue", Pointer(&rect));
  EXPECT_EQ(S_OK, Write(L"CaptureArea", Value(5)));
  ExpectRect(0, 0, ::GetSystemMetrics(SM_CXVIRTUALSCREEN), ::GetSystemMetrics(SM_CYVIRTUALSCREEN));
  // The desktop has no value of its own.
  EXPECT_EQ(S_OK, Write(L"CaptureValue", Pointer(&rect)));
  ExpectRect(0, 0, ::GetSystemMetrics(SM_CXVIRTUALSCREEN), ::GetSystemMetrics(SM_CYVIRTUALSCREEN));
}

TEST_F(CapturePropertyBagTest, WindowHandleIsTheLow32BitsOfTheValueSignExtended) {
  Write(L"CaptureArea", Value(2));
  VARIANT v = Value(0);
  v.llVal = 0x7777777780001234LL;  // only the low 32 bits are the handle
  EXPECT_EQ(S_OK, Write(L"CaptureValue", v));
#ifdef _WIN64
  EXPECT_EQ(0xFFFFFFFF80001234ULL, reinterpret_cast<ULONG_PTR>(settings().CaptureWindow));
#else
  EXPECT_EQ(0x80001234UL, reinterpret_cast<ULONG_PTR>(settings().CaptureWindow));
#endif
}

// The WindowRegion record is laid out by the build's pointer width: 20 bytes in the 32-bit
// build, 24 in the 64-bit build. The record is built here byte by byte.
TEST_F(CapturePropertyBagTest, WindowRegionHasTheLayoutOfThisBuild) {
#ifdef _WIN64
  const size_t handleBytes = 8;
  const ULONG_PTR handle = 0x0000123400005678ULL;
#else
  const size_t handleBytes = 4;
  const ULONG_PTR handle = 0x00005678UL;
#endif
  const LONG corners[4] = {10, 20, 330, 260};
  std::vector<BYTE> record(handleBytes + sizeof(corners));
  ASSERT_EQ(sizeof(void*) == 8 ? 24u : 20u, record.size());
  std::memcpy(record.data(), &handle, handleBytes);
  std::memcpy(record.data() + handleBytes, corners, sizeof(corners));

  Write(L"CaptureArea", Value(3));
  EXPECT_EQ(S_OK, Write(L"CaptureValue", Pointer(record.data())));
  EXPECT_EQ(handle, reinterpret_cast<ULONG_PTR>(settings().CaptureWindow));
  ExpectRect(10, 20, 330, 260);
}

TEST_F(CapturePropertyBagTest, OutputDimensionsReplaceEachOtherWhilePositive) {
  LONG first[2] = {320, 240};
  LONG second[2] = {640, 360};
  EXPECT_EQ(S_OK, Write(L"OutputDimensions", Pointer(first)));
  EXPECT_EQ(320, capture_.FrameSize().width);
  EXPECT_EQ(S_OK, Write(L"OutputDimensions", Pointer(second)));
  LONG zeroWidth[2] = {0, 240};
  LONG negativeHeight[2] = {320, -1};
  LONG tooWide[2] = {SourceLimits::kMaxOutputSide + 1, 240};
  LONG tooHigh[2] = {320, SourceLimits::kMaxOutputSide + 1};
  EXPECT_EQ(E_INVALIDARG, Write(L"OutputDimensions", Pointer(zeroWidth)));
  EXPECT_EQ(E_INVALIDARG, Write(L"OutputDimensions", Pointer(negativeHeight)));
  EXPECT_EQ(E_INVALIDARG, Write(L"OutputDimensions", Pointer(tooWide)));
  EXPECT_EQ(E_INVALIDARG, Write(L"OutputDimensions", Pointer(tooHigh)));
  EXPECT_EQ(E_POINTER, Write(L"OutputDimensions", Pointer(nullptr)));
  EXPECT_EQ(640, capture_.FrameSize().width);
  EXPECT_EQ(360, capture_.FrameSize().height);
}

TEST_F(CapturePropertyBagTest, AreaOutsideZeroToFiveOrUnchangedLeavesTheDeviceContexts) {
  Write(L"CaptureArea", Value(1));
  ::SetBkColor(capture_.MemoryDC(), RGB(1, 2, 3));
  for (LONG area : {6, 7, -1}) EXPECT_EQ(E_INVALIDARG, Write(L"CaptureArea", Value(area))) << area;
  // The area it already has does not re-create the device contexts either.
  EXPECT_EQ(S_OK, Write(L"CaptureArea", Value(1)));
  EXPECT_EQ(1, bag_.LastCaptureArea());
  EXPECT_EQ(1, settings().CaptureArea);
  EXPECT_EQ(RGB(1, 2, 3), ::GetBkColor(capture_.MemoryDC()));
  // CaptureValue is still read for area 1.
  RECT rect = {1, 2, 3, 4};
  EXPECT_EQ(S_OK, Write(L"CaptureValue", Pointer(&rect)));
  ExpectRect(1, 2, 3, 4);
}

TEST_F(CapturePropertyBagTest, NullPointersAreRefusedAndStoreNothing) {
  VARIANT v = Value(30);
  EXPECT_EQ(E_POINTER, bag_.Write(capture_, nullptr, &v));
  EXPECT_EQ(E_POINTER, bag_.Write(capture_, L"FrameRate", nullptr));
  EXPECT_EQ(E_POINTER, bag_.Read(capture_, nullptr, &v, nullptr));
  EXPECT_EQ(E_POINTER, bag_.Read(capture_, L"FrameRate", nullptr, nullptr));
  EXPECT_EQ(1000000, settings().FrameInterval);
  for (LONG area : {1, 3}) {
    Write(L"CaptureArea", Value(area));
    EXPECT_EQ(E_POINTER, Write(L"CaptureValue", Pointer(nullptr))) << area;
  }
  ExpectRect(0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
  EXPECT_EQ(nullptr, settings().CaptureWindow);
  EXPECT_FALSE(settings().OutputSize.has_value());
}

TEST_F(CapturePropertyBagTest, EveryWriteFlushesStandardOutput) {
  wchar_t folder[MAX_PATH];
  wchar_t path[MAX_PATH];
  ASSERT_NE(0u, ::GetTempPathW(MAX_PATH, folder));
  ASSERT_NE(0u, ::GetTempFileNameW(folder, L"dvt", 0, path));
  auto fileSize = [&] {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ::GetFileAttributesExW(path, GetFileExInfoStandard, &data);
    return data.nFileSizeLow;
  };

  // stdout, fully buffered, is pointed at the file for the duration.
  std::fflush(stdout);
  const int saved = _dup(_fileno(stdout));
  const int file = _wopen(path, _O_WRONLY | _O_TRUNC | _O_BINARY);
  ASSERT_GE(file, 0);
  _dup2(file, _fileno(stdout));
  _close(file);
  std::setvbuf(stdout, nullptr, _IOFBF, 4096);

  std::printf("a");
  const DWORD buffered = fileSize();
  VARIANT v = Value(1);
  const HRESULT unknown = bag_.Write(capture_, L"NoSuchKey", &v);
  const DWORD afterUnknown = fileSize();
  std::printf("b");
  bag_.Write(capture_, L"IncludeCursor", &v);
  const DWORD afterKnown = fileSize();

  std::fflush(stdout);
  _dup2(saved, _fileno(stdout));
  _close(saved);
  ::DeleteFileW(path);

  EXPECT_EQ(0u, buffered);
  EXPECT_EQ(S_FALSE, unknown);
  EXPECT_EQ(1u, afterUnknown);
  EXPECT_EQ(2u, afterKnown);
}

struct WriterShared {
  DesktopCapture capture;
  CapturePropertyBag bag;
  HRESULT result = E_FAIL;
};

DWORD WINAPI WriteCaptureAreaOne(void* context) {
  auto* shared = static_cast<WriterShared*>(context);
  VARIANT v = Value(1);
  shared->result = shared->bag.Write(shared->capture, L"CaptureArea", &v);
  return 0;
}

// Write changes settings under CaptureLock, so it waits for a grab that holds it.
// A bag of stored values, as a device's registry key gives them: Read hands out a copy of
// what it holds (E_INVALIDARG for a key it does not hold), Write stores a copy.
class StoredBag : public IPropertyBag {
 public:
  ~StoredBag() {
    for (auto& entry : values_) ::VariantClear(&entry.second);
  }
  void Number(const wchar_t* key, LONG number) {
    VARIANT v = Value(number);
    v.vt = VT_I4;
    Put(key, v);
  }
  void Text(const wchar_t* key, const std::wstring& text) {
    VARIANT v = Value(0);
    v.vt = VT_BSTR;
    v.bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    Put(key, v);
    ::VariantClear(&v);
  }
  const VARIANT* Find(const wchar_t* key) const {
    auto found = values_.find(key);
    return found == values_.end() ? nullptr : &found->second;
  }
  size_t size() const { return values_.size(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR key, VARIANT* value, IErrorLog*) override {
    const VARIANT* stored = Find(key);
    return stored ? ::VariantCopy(value, const_cast<VARIANT*>(stored)) : E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR key, VARIANT* value) override {
    Put(key, *value);
    return S_OK;
  }

 private:
  void Put(const wchar_t* key, const VARIANT& value) {
    VARIANT& slot = values_[key];
    ::VariantClear(&slot);
    ::VariantCopy(&slot, const_cast<VARIANT*>(&value));
  }
  std::map<std::wstring, VARIANT> values_;
};

TEST_F(CapturePropertyBagTest, LoadTakesStoredValuesAndSaveGivesThemBack) {
  StoredBag preset;
  preset.Number(L"CaptureArea", 1);
  preset.Text(L"CaptureValue", L"-10,20,310,260");
  preset.Number(L"FrameRate", 25);
  preset.Number(L"IncludeCursor", 1);
  preset.Number(L"FramePacing", 0);
  preset.Text(L"OutputDimensions", L"640x360");
  preset.Text(L"OutputFormat", L"RGB24");
  ASSERT_EQ(S_OK, bag_.Load(capture_, &preset, nullptr));
  EXPECT_EQ(1, bag_.LastCaptureArea());
  ExpectRect(-10, 20, 310, 260);
  EXPECT_EQ(25, ReadRate());
  EXPECT_TRUE(settings().IncludeCursor);
  EXPECT_FALSE(settings().FramePacing);
  EXPECT_EQ(640, capture_.FrameSize().width);
  EXPECT_EQ(1, settings().OutputFormat);
  // What the bag does not hold keeps its default.
  EXPECT_EQ(0, settings().FrameRateMode);
  EXPECT_EQ(0, settings().InterpolationMode);
  EXPECT_FALSE(settings().CaptureTransparentWindows);

  // Saved in the forms Load takes, and loaded into another capture the same.
  StoredBag saved;
  ASSERT_EQ(S_OK, bag_.Save(capture_, &saved));
  ASSERT_NE(nullptr, saved.Find(L"CaptureValue"));
  EXPECT_STREQ(L"-10,20,310,260", saved.Find(L"CaptureValue")->bstrVal);
  EXPECT_STREQ(L"640x360", saved.Find(L"OutputDimensions")->bstrVal);
  EXPECT_STREQ(L"rgb24", saved.Find(L"OutputFormat")->bstrVal);
  EXPECT_EQ(VT_I4, saved.Find(L"IncludeCursor")->vt);
  EXPECT_EQ(nullptr, saved.Find(L"WindowTitle"));
  DesktopCapture other;
  CapturePropertyBag otherBag;
  ASSERT_EQ(S_OK, otherBag.Load(other, &saved, nullptr));
  EXPECT_EQ(400000, other.Settings().FrameInterval);
  EXPECT_EQ(320, other.Settings().CaptureRect.width);
  EXPECT_EQ(1, other.Settings().OutputFormat);
  EXPECT_FALSE(other.Settings().FramePacing);
  // 5-5-5 chosen in its masked description (by SetFormat) is saved by its format's name,
  // which loads as the plain description.
  capture_.Settings().OutputFormat = kMaskedRgb555Position;
  StoredBag masked;
  ASSERT_EQ(S_OK, bag_.Save(capture_, &masked));
  EXPECT_STREQ(L"rgb555", masked.Find(L"OutputFormat")->bstrVal);
  ASSERT_EQ(S_OK, otherBag.Load(other, &masked, nullptr));
  EXPECT_EQ(kPlainRgb555Position, other.Settings().OutputFormat);
  // The YUV names, in any case, and back.
  for (const wchar_t* name : {L"i420", L"NV12", L"yuy2"}) {
    StoredBag yuv;
    yuv.Text(L"OutputFormat", name);
    ASSERT_EQ(S_OK, otherBag.Load(other, &yuv, nullptr)) << name;
    EXPECT_TRUE(IsYuvPosition(other.Settings().OutputFormat)) << name;
    StoredBag saved2;
    ASSERT_EQ(S_OK, otherBag.Save(other, &saved2));
    EXPECT_EQ(0, _wcsicmp(name, saved2.Find(L"OutputFormat")->bstrVal)) << name;
  }

  // A monitor is stored by its number, and loaded from a number or from its text.
  for (bool asText : {false, true}) {
    StoredBag monitor;
    monitor.Number(L"CaptureArea", 4);
    if (asText) {
      monitor.Text(L"CaptureValue", L"3");
    } else {
      monitor.Number(L"CaptureValue", 3);
    }
    DesktopCapture loaded;
    CapturePropertyBag loadedBag;
    ASSERT_EQ(S_OK, loadedBag.Load(loaded, &monitor, nullptr)) << asText;
    EXPECT_EQ(3, loaded.Settings().CaptureMonitor);
    StoredBag again;
    ASSERT_EQ(S_OK, loadedBag.Save(loaded, &again));
    EXPECT_EQ(VT_I4, again.Find(L"CaptureValue")->vt);
    EXPECT_EQ(3, again.Find(L"CaptureValue")->lVal);
    EXPECT_EQ(4, again.Find(L"CaptureArea")->lVal);
  }

  // InitNew's reset: every default again.
  bag_.Reset(capture_);
  EXPECT_EQ(0, bag_.LastCaptureArea());
  ExpectRect(0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
  EXPECT_FALSE(settings().OutputSize.has_value());
  EXPECT_EQ(-1, settings().OutputFormat);
  EXPECT_EQ(1000000, settings().FrameInterval);
}

TEST_F(CapturePropertyBagTest, LoadFailsOnTheFirstValueWriteOrItsFormRefuses) {
  const std::wstring huge(100000, L'7');
  struct Case {
    const wchar_t* key;
    bool text;
    LONG number;
    std::wstring value;
    HRESULT expected;
  };
  const Case cases[] = {
      {L"FrameRate", false, 0, L"", E_INVALIDARG},
      {L"FrameRate", false, -5, L"", E_INVALIDARG},
      {L"CaptureArea", false, 7, L"", E_INVALIDARG},
      {L"FrameRate", true, 0, L"25", DISP_E_TYPEMISMATCH},
      {L"CaptureValue", false, 5, L"", DISP_E_TYPEMISMATCH},
      {L"WindowTitle", false, 5, L"", DISP_E_TYPEMISMATCH},
      {L"CaptureValue", true, 0, L"1,2,3", E_INVALIDARG},
      {L"CaptureValue", true, 0, L" 1,2,3,4", E_INVALIDARG},
      {L"CaptureValue", true, 0, L"1,2,3,4,", E_INVALIDARG},
      {L"CaptureValue", true, 0, L"1,2,3,2147483648", E_INVALIDARG},
      {L"CaptureValue", true, 0, huge, E_INVALIDARG},
      {L"OutputDimensions", true, 0, L"0x360", E_INVALIDARG},
      {L"OutputDimensions", true, 0, L"8193x360", E_INVALIDARG},
      {L"OutputDimensions", true, 0, L"640X360", E_INVALIDARG},
      {L"OutputDimensions", true, 0, std::wstring(L"640x360\0", 8), E_INVALIDARG},
      {L"OutputFormat", true, 0, L"rgb48", E_INVALIDARG},
      {L"WindowTitle", true, 0, huge, E_INVALIDARG},
      {L"WindowTitle", true, 0, std::wstring(L"a\0b", 3), E_INVALIDARG},
  };
  for (const Case& c : cases) {
    DesktopCapture capture;
    CapturePropertyBag bag;
    StoredBag preset;
    preset.Number(L"CaptureArea", 1);
    preset.Number(L"IncludeCursor", 1);
    if (c.text) {
      preset.Text(c.key, c.value);
    } else {
      preset.Number(c.key, c.number);
    }
    EXPECT_EQ(c.expected, bag.Load(capture, &preset, nullptr)) << c.key << " " << c.value.substr(0, 20).c_str();
    EXPECT_EQ(1000000, capture.Settings().FrameInterval);
    EXPECT_FALSE(capture.Settings().OutputSize.has_value());
    EXPECT_EQ(-1, capture.Settings().OutputFormat);
  }
  // A monitor's number is one whole number in range.
  for (const wchar_t* number : {L"0", L"33", L"1,2", L"two"}) {
    StoredBag monitor;
    monitor.Number(L"CaptureArea", 4);
    monitor.Text(L"CaptureValue", number);
    EXPECT_EQ(E_INVALIDARG, bag_.Load(capture_, &monitor, nullptr)) << number;
    EXPECT_EQ(0, settings().CaptureArea);
  }
  // A window area keeps no handle: a rectangle of area 2 could only be one.
  StoredBag handle;
  handle.Number(L"CaptureArea", 2);
  handle.Text(L"CaptureValue", L"0,0,10,10");
  EXPECT_EQ(E_INVALIDARG, bag_.Load(capture_, &handle, nullptr));
}

TEST_F(CapturePropertyBagTest, AStoredWindowTitleIsFoundWhenLookedFor) {
  StoredBag preset;
  preset.Number(L"CaptureArea", 3);
  preset.Text(L"WindowTitle", L"preset test window");
  // Not there yet: Load succeeds, the lookup does not.
  ASSERT_EQ(S_OK, bag_.Load(capture_, &preset, nullptr));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), capture_.FindTitledWindow(true));
  EXPECT_EQ(nullptr, settings().CaptureWindow);

  TestWindow window(RECT{40, 30, 240, 130}, RGB(0, 128, 255));
  ::SetWindowTextW(window.handle(), L"The Preset Test Window, opened later");
  ASSERT_TRUE(window.WaitUntilShown());
  // A part of the title, in another case; the whole window without a stored rectangle.
  EXPECT_EQ(S_OK, capture_.FindTitledWindow(true));
  EXPECT_EQ(window.handle(), settings().CaptureWindow);
  ExpectRect(0, 0, 200, 100);

  // A stored rectangle of the window is kept, also once the window is found.
  preset.Text(L"CaptureValue", L"10,20,50,60");
  ASSERT_EQ(S_OK, bag_.Load(capture_, &preset, nullptr));
  EXPECT_EQ(S_OK, capture_.FindTitledWindow(true));
  EXPECT_EQ(window.handle(), settings().CaptureWindow);
  ExpectRect(10, 20, 50, 60);
  StoredBag saved;
  ASSERT_EQ(S_OK, bag_.Save(capture_, &saved));
  EXPECT_STREQ(L"preset test window", saved.Find(L"WindowTitle")->bstrVal);
  EXPECT_STREQ(L"10,20,50,60", saved.Find(L"CaptureValue")->bstrVal);
}

TEST(CapturePropertyBagThreadedTest, WriteWaitsWhileCaptureLockIsHeld) {
  WriterShared shared;
  shared.capture.CaptureLock().Enter();
  HANDLE thread = ::CreateThread(nullptr, 0, WriteCaptureAreaOne, &shared, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(thread, 200));
  EXPECT_EQ(0, shared.capture.Settings().CaptureArea);
  EXPECT_EQ(0, shared.bag.LastCaptureArea());
  shared.capture.CaptureLock().Leave();

  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread, 10000));
  ::CloseHandle(thread);
  EXPECT_EQ(S_OK, shared.result);
  EXPECT_EQ(1, shared.capture.Settings().CaptureArea);
  EXPECT_EQ(1, shared.bag.LastCaptureArea());
}

}  // namespace
