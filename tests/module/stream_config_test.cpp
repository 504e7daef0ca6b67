#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

#include "format/media_type.h"
#include "hostkit/source_settings.h"
#include "tests/module/module_test.h"
#include "tests/support/test_graph.h"

using namespace dorvantel;

// What hosts that choose a size, a rate and a format see: IAMStreamConfig on the output pin,
// alone and in Wine's capture graph builder.

namespace {

// A type handed out in task memory, freed as hosts free it.
struct HostType {
  AM_MEDIA_TYPE* type = nullptr;
  ~HostType() { reset(); }
  void reset() { DestroyMediaType(std::exchange(type, nullptr)); }
  AM_MEDIA_TYPE** put() {
    reset();
    return &type;
  }
  VIDEOINFOHEADER* info() const { return reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat); }
};

// The caps entries' formats: 5-5-5 before 5-6-5, for hosts that read any 16 bits as 5-5-5, and
// 5-5-5 with BI_RGB before its BI_BITFIELDS description, which ffmpeg reads as 5-6-5.
struct CapsFormat {
  const GUID* subtype;
  DWORD compression;
};
// Then the YUV formats, after every RGB one.
const GUID kI420 = {MAKEFOURCC('I', '4', '2', '0'), 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const CapsFormat kFormats[] = {{&MEDIASUBTYPE_RGB32, BI_RGB},
                               {&MEDIASUBTYPE_RGB24, BI_RGB},
                               {&MEDIASUBTYPE_RGB555, BI_RGB},
                               {&MEDIASUBTYPE_RGB555, BI_BITFIELDS},
                               {&MEDIASUBTYPE_RGB565, BI_BITFIELDS},
                               {&MEDIASUBTYPE_RGB8, BI_RGB},
                               {&kI420, MAKEFOURCC('I', '4', '2', '0')},
                               {&MEDIASUBTYPE_NV12, MAKEFOURCC('N', 'V', '1', '2')},
                               {&MEDIASUBTYPE_YUY2, MAKEFOURCC('Y', 'U', 'Y', '2')}};
constexpr int kFormatCount = 9;
// The pin's own enumerator: RGB32, RGB24, RGB565, RGB555 with its masks, RGB8.
const CapsFormat kEnumerated[] = {{&MEDIASUBTYPE_RGB32, BI_RGB},
                                  {&MEDIASUBTYPE_RGB24, BI_RGB},
                                  {&MEDIASUBTYPE_RGB565, BI_BITFIELDS},
                                  {&MEDIASUBTYPE_RGB555, BI_BITFIELDS},
                                  {&MEDIASUBTYPE_RGB8, BI_RGB}};

class StreamConfigThreadedTest : public ModuleThreadedTest {
 protected:
  void SetUp() override {
    ModuleThreadedTest::SetUp();
    ASSERT_EQ(S_OK, library_.CreateFilter(&filter_));
    pin_ = OutputPin(filter_.get());
    ASSERT_TRUE(pin_);
    ASSERT_EQ(S_OK, pin_.query(&config_));
  }
  void TearDown() override {
    config_.reset();
    pin_.reset();
    filter_.reset();
    ModuleThreadedTest::TearDown();
  }

  // The host's way: a caps entry edited in width, height and rate only, then SetFormat.
  HRESULT Choose(int entry, LONG width, LONG height, REFERENCE_TIME interval) {
    HostType type;
    VIDEO_STREAM_CONFIG_CAPS caps;
    HRESULT hr = config_->GetStreamCaps(entry, type.put(), reinterpret_cast<BYTE*>(&caps));
    if (hr != S_OK) return E_FAIL;
    type.info()->bmiHeader.biWidth = width;
    type.info()->bmiHeader.biHeight = height;
    type.info()->AvgTimePerFrame = interval;
    return config_->SetFormat(type.type);
  }

  std::vector<GUID> EnumeratedSubtypes() {
    std::vector<GUID> subtypes;
    ComPtr<IEnumMediaTypes> types;
    if (FAILED(pin_->EnumMediaTypes(types.put()))) return subtypes;
    HostType type;
    while (types->Next(1, type.put(), nullptr) == S_OK) subtypes.push_back(type.type->subtype);
    return subtypes;
  }
  std::vector<DWORD> EnumeratedCompressions() {
    std::vector<DWORD> compressions;
    ComPtr<IEnumMediaTypes> types;
    if (FAILED(pin_->EnumMediaTypes(types.put()))) return compressions;
    HostType type;
    while (types->Next(1, type.put(), nullptr) == S_OK) compressions.push_back(type.info()->bmiHeader.biCompression);
    return compressions;
  }

  LONG ReadFrameRate() {
    int rate = 0;
    SourceSettings(filter_.get()).ReadFrameRate(&rate);
    return rate;
  }

  const LONG screenWidth_ = GetSystemMetrics(SM_CXSCREEN);
  const LONG screenHeight_ = GetSystemMetrics(SM_CYSCREEN);
  ComPtr<IBaseFilter> filter_;
  ComPtr<IPin> pin_;
  ComPtr<IAMStreamConfig> config_;
};

// Every entry is one hosts can use as it is: a whole bottom-up RGB type with a rate, and caps
// whose ranges SetFormat takes.
TEST_F(StreamConfigThreadedTest, EveryCapsEntryIsAUsableTypeWithTruthfulRanges) {
  int count = 0, size = 0;
  ASSERT_EQ(S_OK, config_->GetNumberOfCapabilities(&count, &size));
  EXPECT_EQ(static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)), size);
  ASSERT_GE(count, kFormatCount);
  for (int i = 0; i < count; ++i) {
    HostType type;
    VIDEO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(S_OK, config_->GetStreamCaps(i, type.put(), reinterpret_cast<BYTE*>(&caps))) << i;
    ASSERT_NE(nullptr, type.type);
    EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Video, type.type->majortype));
    EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, type.type->formattype));
    EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, caps.guid));
    EXPECT_EQ(nullptr, type.type->pUnk);
    EXPECT_TRUE(type.type->bFixedSizeSamples);
    const BITMAPINFOHEADER& header = type.info()->bmiHeader;
    EXPECT_GT(header.biHeight, 0) << i;
    EXPECT_EQ(header.biSizeImage, type.type->lSampleSize);
    if (header.biCompression == BI_RGB || header.biCompression == BI_BITFIELDS) {
      EXPECT_EQ(ImageSize(&header), header.biSizeImage);
    } else {
      const uint64_t pixels = static_cast<uint64_t>(header.biWidth) * header.biHeight;
      EXPECT_EQ(header.biBitCount == 16 ? pixels * 2 : pixels * 3 / 2, header.biSizeImage) << "even sides";
    }
    EXPECT_EQ(1000000, type.info()->AvgTimePerFrame) << "the current rate, 10 a second";
    EXPECT_LE(caps.MinOutputSize.cx, header.biWidth);
    EXPECT_GE(caps.MaxOutputSize.cx, header.biWidth);
    EXPECT_LE(caps.MinFrameInterval, type.info()->AvgTimePerFrame);
    EXPECT_GE(caps.MaxFrameInterval, type.info()->AvgTimePerFrame);
    if (i < kFormatCount) {
      EXPECT_TRUE(IsEqualGUID(*kFormats[i].subtype, type.type->subtype)) << "RGB32 first";
      EXPECT_EQ(kFormats[i].compression, header.biCompression) << i;
      EXPECT_EQ(screenWidth_, header.biWidth);
      EXPECT_EQ(screenHeight_, header.biHeight);
    } else {
      EXPECT_LT(header.biWidth, screenWidth_) << "common sizes below the captured one";
    }
  }
  // The ranges of the first entry are what SetFormat takes, and only that.
  HostType first;
  VIDEO_STREAM_CONFIG_CAPS caps;
  ASSERT_EQ(S_OK, config_->GetStreamCaps(0, first.put(), reinterpret_cast<BYTE*>(&caps)));
  EXPECT_EQ(S_OK, Choose(0, caps.MaxOutputSize.cx, caps.MaxOutputSize.cy, caps.MinFrameInterval));
  EXPECT_EQ(S_OK, Choose(0, caps.MinOutputSize.cx, caps.MinOutputSize.cy, caps.MaxFrameInterval));
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, Choose(0, caps.MaxOutputSize.cx + 1, 100, 0));
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, Choose(0, 100, caps.MinOutputSize.cy - 1, 0));
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, Choose(0, 100, 100, caps.MinFrameInterval - 1));
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, Choose(0, 100, 100, caps.MaxFrameInterval + 1));

  HostType type;
  type.type = reinterpret_cast<AM_MEDIA_TYPE*>(1);
  EXPECT_EQ(S_FALSE, config_->GetStreamCaps(count, &type.type, reinterpret_cast<BYTE*>(&caps)));
  EXPECT_EQ(nullptr, type.type);
  EXPECT_EQ(E_INVALIDARG, config_->GetStreamCaps(-1, type.put(), reinterpret_cast<BYTE*>(&caps)));
  EXPECT_EQ(E_POINTER, config_->GetStreamCaps(0, type.put(), nullptr));
  EXPECT_EQ(nullptr, type.type);
  EXPECT_EQ(E_POINTER, config_->GetStreamCaps(0, nullptr, reinterpret_cast<BYTE*>(&caps)));
  EXPECT_EQ(E_POINTER, config_->GetNumberOfCapabilities(nullptr, &size));
  EXPECT_EQ(E_POINTER, config_->GetFormat(nullptr));
}

// SetFormat and the property bag write the same settings; the later one wins. The filter
// recomputes every size itself, and a refused type changes nothing.
TEST_F(StreamConfigThreadedTest, SetFormatChoosesSizeRateAndFormatAndNullGoesBack) {
  HostType type;
  VIDEO_STREAM_CONFIG_CAPS caps;
  ASSERT_EQ(S_OK, config_->GetStreamCaps(1, type.put(), reinterpret_cast<BYTE*>(&caps)));
  type.info()->bmiHeader.biWidth = 641;
  type.info()->bmiHeader.biHeight = 360;
  type.info()->AvgTimePerFrame = 333333;
  ASSERT_EQ(S_OK, config_->SetFormat(type.type)) << "biSizeImage left stale, as hosts leave it";

  HostType current;
  ASSERT_EQ(S_OK, config_->GetFormat(current.put()));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB24, current.type->subtype));
  EXPECT_EQ(641, current.info()->bmiHeader.biWidth);
  EXPECT_EQ(360, current.info()->bmiHeader.biHeight);
  EXPECT_EQ(1924u * 360, current.info()->bmiHeader.biSizeImage) << "rows of 1923 bytes padded to 1924";
  EXPECT_EQ(333333, current.info()->AvgTimePerFrame);
  EXPECT_EQ(30, ReadFrameRate());
  const std::vector<GUID> chosen = EnumeratedSubtypes();
  ASSERT_EQ(1u, chosen.size()) << "only the chosen format is offered";
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB24, chosen[0]));

  // The bag's writes show in the next GetFormat.
  EXPECT_EQ(S_OK, WriteProperty(filter_.get(), L"FrameRate", 5));
  LONG dimensions[2] = {320, 200};
  EXPECT_EQ(S_OK, WriteProperty(filter_.get(), L"OutputDimensions", dimensions));
  ASSERT_EQ(S_OK, config_->GetFormat(current.put()));
  EXPECT_EQ(320, current.info()->bmiHeader.biWidth);
  EXPECT_EQ(200, current.info()->bmiHeader.biHeight);
  EXPECT_EQ(2000000, current.info()->AvgTimePerFrame);

  // Refused: nothing changes.
  ComPtr<IEnumMediaTypes> before;
  ASSERT_EQ(S_OK, pin_->EnumMediaTypes(before.put()));
  auto refused = [&](auto edit) {
    HostType bad;
    VIDEO_STREAM_CONFIG_CAPS badCaps;
    if (config_->GetStreamCaps(0, bad.put(), reinterpret_cast<BYTE*>(&badCaps)) != S_OK) return E_FAIL;
    edit(*bad.type, bad.info()->bmiHeader);
    return config_->SetFormat(bad.type);
  };
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, refused([](AM_MEDIA_TYPE&, BITMAPINFOHEADER& h) { h.biHeight = -200; }));
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, refused([](AM_MEDIA_TYPE&, BITMAPINFOHEADER& h) { h.biWidth = 0; }));
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, refused([](AM_MEDIA_TYPE& t, BITMAPINFOHEADER&) { t.subtype = MEDIASUBTYPE_UYVY; }));
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, refused([](AM_MEDIA_TYPE& t, BITMAPINFOHEADER&) { t.cbFormat = 40; }));
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE,
            refused([](AM_MEDIA_TYPE& t, BITMAPINFOHEADER&) { t.formattype = FORMAT_VideoInfo2; }));
  ASSERT_EQ(S_OK, config_->GetFormat(current.put()));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB24, current.type->subtype));
  EXPECT_EQ(320, current.info()->bmiHeader.biWidth);
  EXPECT_EQ(5, ReadFrameRate());
  HostType next;
  EXPECT_EQ(S_OK, before->Next(1, next.put(), nullptr)) << "a refused type does not disturb enumerators";

  // NULL: the whole capture at 10 frames a second, every format again.
  ASSERT_EQ(S_OK, config_->SetFormat(nullptr));
  EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, before->Next(1, next.put(), nullptr));
  ASSERT_EQ(S_OK, config_->GetFormat(current.put()));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB32, current.type->subtype));
  EXPECT_EQ(screenWidth_, current.info()->bmiHeader.biWidth);
  EXPECT_EQ(screenHeight_, current.info()->bmiHeader.biHeight);
  EXPECT_EQ(10, ReadFrameRate());
  // The pin's own list: the five RGB types in their order.
  const std::vector<GUID> subtypes = EnumeratedSubtypes();
  const std::vector<DWORD> compressions = EnumeratedCompressions();
  ASSERT_EQ(std::size(kEnumerated), subtypes.size());
  for (size_t i = 0; i < subtypes.size(); ++i) {
    EXPECT_TRUE(IsEqualGUID(*kEnumerated[i].subtype, subtypes[i])) << i;
    EXPECT_EQ(kEnumerated[i].compression, compressions[i]) << i;
  }

  // The captured size itself means no scaling: the size follows a later capture rectangle.
  ASSERT_EQ(S_OK, Choose(0, screenWidth_, screenHeight_, 0));
  ASSERT_EQ(S_OK, WriteProperty(filter_.get(), L"CaptureArea", 1));
  RECT area = {10, 20, 210, 170};
  ASSERT_EQ(S_OK, WriteProperty(filter_.get(), L"CaptureValue", &area));
  ASSERT_EQ(S_OK, config_->GetFormat(current.put()));
  EXPECT_EQ(200, current.info()->bmiHeader.biWidth);
  EXPECT_EQ(150, current.info()->bmiHeader.biHeight);
}

// ffmpeg's way to 5-5-5: it takes the first 16-bit entry and sets it. The pin then offers and
// connects with that description first (ffmpeg connects with the first type), and offers the
// other one after it, as the name rgb555 does.
TEST_F(StreamConfigThreadedTest, EachFiveFiveFiveDescriptionIsOfferedFirstOnceChosen) {
  const std::vector<DWORD> plainFirst = {BI_RGB, BI_BITFIELDS}, maskedFirst = {BI_BITFIELDS, BI_RGB};
  for (int entry : {2, 3}) {
    SCOPED_TRACE(entry);
    ASSERT_EQ(S_OK, Choose(entry, 320, 240, 0));
    EXPECT_EQ(entry == 2 ? plainFirst : maskedFirst, EnumeratedCompressions());
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB555, EnumeratedSubtypes().at(1)));
    TestGraph graph(filter_);
    ASSERT_EQ(S_OK, graph.Connect(0));
    AM_MEDIA_TYPE connected = graph.ConnectedType();
    ASSERT_GE(connected.cbFormat, sizeof(VIDEOINFOHEADER));
    EXPECT_EQ(kFormats[entry].compression,
              reinterpret_cast<VIDEOINFOHEADER*>(connected.pbFormat)->bmiHeader.biCompression);
    ReleaseMediaTypeFormat(&connected);
  }
  ASSERT_EQ(S_OK, SourceSettings(filter_.get()).WriteText(L"OutputFormat", L"RGB555"));
  EXPECT_EQ(plainFirst, EnumeratedCompressions()) << "the name rgb555 offers BI_RGB first";
}

// Wine's capture graph builder as the host: it finds the pin by its category and the stream
// configuration by its interface, and renders the chosen format (through a Smart Tee that
// takes a second buffer from the pin's allocator while the pin holds the first). Once
// connected the type stays; a new rate is taken, a new size is not.
TEST_F(StreamConfigThreadedTest, TheCaptureGraphBuilderFindsConfiguresAndRendersThePin) {
  TestGraph graph(filter_);
  ASSERT_NE(nullptr, graph.graph());
  ComPtr<ICaptureGraphBuilder2> builder;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                   builder.put_void()));
  ASSERT_EQ(S_OK, builder->SetFiltergraph(graph.graph()));

  ComPtr<IPin> found;
  ASSERT_EQ(S_OK, builder->FindPin(filter_.get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, FALSE, 0, found.put()));
  EXPECT_EQ(pin_.get(), found.get());
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(S_OK, builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, filter_.get(), IID_IAMStreamConfig,
                                         config.put_void()));
  EXPECT_EQ(config_.get(), config.get());
  ASSERT_EQ(S_OK, Choose(1, 320, 240, 400000));

  ASSERT_TRUE(SUCCEEDED(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, filter_.get(),
                                              graph.grabber(), graph.renderer())));
  AM_MEDIA_TYPE connected = graph.ConnectedType();
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB24, connected.subtype));
  ASSERT_GE(connected.cbFormat, sizeof(VIDEOINFOHEADER));
  const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(connected.pbFormat);
  EXPECT_EQ(320, info->bmiHeader.biWidth);
  EXPECT_EQ(240, info->bmiHeader.biHeight);
  EXPECT_EQ(400000, info->AvgTimePerFrame);
  ReleaseMediaTypeFormat(&connected);

  EXPECT_EQ(VFW_E_ALREADY_CONNECTED, Choose(1, 640, 480, 0));
  EXPECT_EQ(VFW_E_ALREADY_CONNECTED, Choose(0, 320, 240, 0)) << "another format";
  EXPECT_EQ(VFW_E_ALREADY_CONNECTED, config_->SetFormat(nullptr));
  EXPECT_EQ(S_OK, Choose(1, 320, 240, 500000));
  EXPECT_EQ(20, ReadFrameRate());

  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  EXPECT_TRUE(graph.WaitForFrames(3)) << "frames pass the tee the builder puts in front of the grabber";
  EXPECT_EQ(S_OK, graph.Stop());
  const auto frames = graph.Frames();
  ASSERT_FALSE(frames.empty());
  EXPECT_GE(frames[0].pixels.size(), 960u * 240) << "whole 320 x 240 RGB24 frames";
}

// A host that edits the current type into another format and size (the capture library of
// OpenCV's DirectShow backend: subtype RGB24 and the new size, biBitCount left at 32) gets the
// format its subtype names; the type GetFormat gives then is the true one. Each YUV entry, set as
// hosts set it, is what the pin offers and connects with.
TEST_F(StreamConfigThreadedTest, TheSubtypeOfAnEditedTypeDecidesAndEveryYuvEntryCanBeChosen) {
  HostType current;
  ASSERT_EQ(S_OK, config_->GetFormat(current.put()));
  current.type->subtype = MEDIASUBTYPE_RGB24;
  current.info()->bmiHeader.biWidth = 640;
  current.info()->bmiHeader.biHeight = 480;
  ASSERT_EQ(32, current.info()->bmiHeader.biBitCount);
  ASSERT_EQ(S_OK, config_->SetFormat(current.type));
  HostType set;
  ASSERT_EQ(S_OK, config_->GetFormat(set.put()));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB24, set.type->subtype));
  EXPECT_EQ(24, set.info()->bmiHeader.biBitCount);
  EXPECT_EQ(static_cast<DWORD>(BI_RGB), set.info()->bmiHeader.biCompression);
  EXPECT_EQ(640u * 3 * 480, set.info()->bmiHeader.biSizeImage);

  for (int entry = 6; entry < kFormatCount; ++entry) {
    SCOPED_TRACE(entry);
    ASSERT_EQ(S_OK, Choose(entry, 321, 181, 0)) << "odd sides are delivered as ffmpeg reads them";
    ASSERT_EQ(S_OK, config_->GetFormat(set.put()));
    EXPECT_TRUE(IsEqualGUID(*kFormats[entry].subtype, set.type->subtype));
    EXPECT_EQ(kFormats[entry].compression, set.info()->bmiHeader.biCompression);
    const DWORD bytes = entry == 8 ? 4u * 161 * 181 : 321u * 181 + 2u * 161 * 91;
    EXPECT_EQ(bytes, set.info()->bmiHeader.biSizeImage);
    const std::vector<GUID> offered = EnumeratedSubtypes();
    ASSERT_EQ(1u, offered.size()) << "the chosen format alone";
    EXPECT_TRUE(IsEqualGUID(*kFormats[entry].subtype, offered[0]));
    EXPECT_EQ(S_OK, pin_->QueryAccept(set.type));
  }
  // IYUV is I420 by another name.
  ASSERT_EQ(S_OK, Choose(6, 64, 48, 0));
  ASSERT_EQ(S_OK, config_->GetFormat(set.put()));
  set.type->subtype = MEDIASUBTYPE_IYUV;
  set.info()->bmiHeader.biCompression = MAKEFOURCC('I', 'Y', 'U', 'V');
  EXPECT_EQ(S_OK, pin_->QueryAccept(set.type));
  EXPECT_EQ(S_OK, config_->SetFormat(set.type));
}

}  // namespace
