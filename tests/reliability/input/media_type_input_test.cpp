#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "format/media_type.h"
#include "tests/reliability/support/desktop_source.h"
#include "tests/reliability/support/downstream_double.h"
#include "tests/reliability/support/guarded_memory.h"
#include "tests/support/test_graph.h"
#include "tests/support/library.h"

using namespace dorvantel;

namespace {

constexpr LONG kWidth = 64;
constexpr LONG kHeight = 48;

// One generated media type with its format block in guarded memory (when it has one).
struct GeneratedType {
  AM_MEDIA_TYPE type = {};
  std::unique_ptr<GuardedBlock> block;
};

template <typename T, size_t N>
const T& Pick(std::mt19937& random, const T (&choices)[N]) {
  return choices[random() % N];
}

void Generate(std::mt19937& random, CountedUnknown* unknown, GeneratedType* out) {
  static const GUID kMajors[] = {MEDIATYPE_Video, MEDIATYPE_Video, MEDIATYPE_Video, GUID_NULL, MEDIATYPE_Audio};
  static const GUID kSubtypes[] = {MEDIASUBTYPE_RGB32,  MEDIASUBTYPE_RGB24, MEDIASUBTYPE_RGB565, MEDIASUBTYPE_RGB555,
                                   MEDIASUBTYPE_RGB8,   MEDIASUBTYPE_ARGB32, MEDIASUBTYPE_RGB4,  GUID_NULL,
                                   MEDIASUBTYPE_YUY2};
  static const GUID kFormats[] = {FORMAT_VideoInfo, FORMAT_VideoInfo, FORMAT_VideoInfo2, GUID_NULL};
  static const ULONG kLengths[] = {0, 1, 39, 40, 87, 88, 99, 100, 111, 112, 1063, 1064, 1127, 1128, 4096, 65536};
  static const LONG kWidths[] = {kWidth, kWidth, kWidth, kWidth + 1, kWidth - 1, 0, -kWidth, INT_MIN, INT_MAX};
  static const LONG kHeights[] = {kHeight, kHeight, kHeight, -kHeight, 0, kHeight + 1, INT_MIN, INT_MAX};
  static const WORD kBits[] = {32, 24, 16, 8, 0, 1, 4, 15, 48, 64, 0xFFFF};
  static const DWORD kCompressions[] = {BI_RGB, BI_RGB, BI_BITFIELDS, BI_RLE8, MAKEFOURCC('Y', 'U', 'Y', '2')};
  static const DWORD kHeaderSizes[] = {40, 40, 40, 0, 12, 124, 0xFFFFFFFF};
  static const DWORD kImageSizes[] = {0, 1, 0xFFFFFFFF, kWidth * kHeight * 4, kWidth * kHeight * 4 - 1};
  static const DWORD kColours[] = {0, 256, 257, 0xFFFFFFFF};

  AM_MEDIA_TYPE& type = out->type;
  type.majortype = Pick(random, kMajors);
  type.subtype = Pick(random, kSubtypes);
  type.formattype = Pick(random, kFormats);
  type.bFixedSizeSamples = random() % 5 != 0;
  type.bTemporalCompression = random() % 5 == 0;
  type.lSampleSize = static_cast<ULONG>(random());
  type.pUnk = random() % 8 == 0 ? unknown : nullptr;
  const ULONG length = Pick(random, kLengths);
  switch (random() % 8) {
    case 0:  // a length without a block
      type.cbFormat = length == 0 ? 88 : length;
      type.pbFormat = nullptr;
      return;
    case 1: {  // a block pointer with length 0: the pointer leads to a page that faults
      out->block = std::make_unique<GuardedBlock>(0);
      type.cbFormat = 0;
      type.pbFormat = out->block->end();
      return;
    }
    default:
      break;
  }
  out->block = std::make_unique<GuardedBlock>(length);
  type.cbFormat = length;
  type.pbFormat = length ? out->block->data() : nullptr;
  if (length < sizeof(VIDEOINFOHEADER)) {
    for (ULONG i = 0; i < length; ++i) type.pbFormat[i] = static_cast<BYTE>(random());
    return;
  }
  auto* video = reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat);
  BITMAPINFOHEADER& header = video->bmiHeader;
  header.biSize = Pick(random, kHeaderSizes);
  header.biWidth = Pick(random, kWidths);
  header.biHeight = Pick(random, kHeights);
  header.biPlanes = random() % 6 == 0 ? 0 : 1;
  header.biBitCount = Pick(random, kBits);
  header.biCompression = Pick(random, kCompressions);
  header.biSizeImage = Pick(random, kImageSizes);
  header.biClrUsed = Pick(random, kColours);
  video->AvgTimePerFrame = static_cast<REFERENCE_TIME>(random()) - 0x7FFFFFFF;
  for (ULONG i = sizeof(VIDEOINFOHEADER); i < length; ++i) type.pbFormat[i] = static_cast<BYTE>(random());
}

bool IsDefinedConnectionResult(HRESULT hr) {
  switch (hr) {
    case S_OK:
    case E_POINTER:
    case E_INVALIDARG:
    case E_UNEXPECTED:
    case E_FAIL:
    case VFW_E_TYPE_NOT_ACCEPTED:
    case VFW_E_NO_ACCEPTABLE_TYPES:
      return true;
    default:
      return false;
  }
}

// A type's fields and format block as bytes, to tell whether anything about it changed.
// (Field by field, so that padding never counts.)
std::vector<BYTE> Flatten(const AM_MEDIA_TYPE& type) {
  AM_MEDIA_TYPE fields;
  std::memset(&fields, 0, sizeof(fields));
  fields.majortype = type.majortype;
  fields.subtype = type.subtype;
  fields.bFixedSizeSamples = type.bFixedSizeSamples;
  fields.bTemporalCompression = type.bTemporalCompression;
  fields.lSampleSize = type.lSampleSize;
  fields.formattype = type.formattype;
  fields.cbFormat = type.cbFormat;
  std::vector<BYTE> bytes(reinterpret_cast<const BYTE*>(&fields), reinterpret_cast<const BYTE*>(&fields + 1));
  if (type.pbFormat) bytes.insert(bytes.end(), type.pbFormat, type.pbFormat + type.cbFormat);
  return bytes;
}

// What IAMStreamConfig::GetFormat answers now, flattened; empty when it fails.
std::vector<BYTE> CurrentFormat(IAMStreamConfig* config) {
  AM_MEDIA_TYPE* type = nullptr;
  if (config->GetFormat(&type) != S_OK || !type) return {};
  std::vector<BYTE> bytes = Flatten(*type);
  DestroyMediaType(type);
  return bytes;
}

LONG StrideBytes(LONG width, WORD bits) { return ((width * bits + 31) / 32) * 4; }

// The platform's I420 subtype: its FOURCC in the base GUID.
const GUID kI420 = {MAKEFOURCC('I', '4', '2', '0'), 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

WORD BitsOf(const GUID& subtype) {
  if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB32)) return 32;
  if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB24)) return 24;
  if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB565) || IsEqualGUID(subtype, MEDIASUBTYPE_RGB555)) return 16;
  if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB8)) return 8;
  if (IsEqualGUID(subtype, kI420) || IsEqualGUID(subtype, MEDIASUBTYPE_NV12)) return 12;
  if (IsEqualGUID(subtype, MEDIASUBTYPE_YUY2)) return 16;
  return 0;
}

// Bytes of one frame: RGB rows padded to whole words; YUV without padding, its chroma rounded up.
DWORD FrameBytes(const GUID& subtype, LONG width, LONG height) {
  const DWORD w = static_cast<DWORD>(width), h = static_cast<DWORD>(height), cw = (w + 1) / 2, ch = (h + 1) / 2;
  if (IsEqualGUID(subtype, kI420) || IsEqualGUID(subtype, MEDIASUBTYPE_NV12)) return w * h + 2 * cw * ch;
  if (IsEqualGUID(subtype, MEDIASUBTYPE_YUY2)) return 4 * cw * h;
  return static_cast<DWORD>(StrideBytes(width, BitsOf(subtype))) * h;
}

// A type a host might pass to SetFormat: a capability entry edited as hosts edit them, and
// then broken in one or more ways (sizes, intervals, bit counts, types, block lengths).
void GenerateRequest(std::mt19937& random, const AM_MEDIA_TYPE& entry, GeneratedType* out) {
  static const LONG kSides[] = {kWidth, kHeight, 1, 640, 8192, 0, -1, -kHeight, 8193, INT_MIN, INT_MAX};
  static const REFERENCE_TIME kIntervals[] = {0, 333333, 10000, 10000000, 9999, 10000001, -1, 1, INT64_MIN, INT64_MAX};
  static const GUID kSubtypes[] = {MEDIASUBTYPE_RGB32, MEDIASUBTYPE_RGB24, MEDIASUBTYPE_RGB565, MEDIASUBTYPE_RGB555,
                                   MEDIASUBTYPE_RGB8,  MEDIASUBTYPE_YUY2,  GUID_NULL};
  static const GUID kMajors[] = {MEDIATYPE_Video, GUID_NULL, MEDIATYPE_Audio};
  static const GUID kFormats[] = {FORMAT_VideoInfo2, GUID_NULL, FORMAT_WaveFormatEx};
  static const WORD kBits[] = {0, 8, 15, 16, 24, 32, 0xFFFF};
  static const DWORD kImageSizes[] = {0, 1, 0xFFFFFFFF};

  AM_MEDIA_TYPE& type = out->type;
  type = entry;
  type.pUnk = nullptr;
  ULONG length = entry.cbFormat;
  switch (random() % 6) {
    case 0:
      length = static_cast<ULONG>(sizeof(VIDEOINFOHEADER)) - 1 - random() % sizeof(VIDEOINFOHEADER);
      break;
    case 1:
      length = entry.cbFormat + 1 + random() % 2048;
      break;
    case 2:
      length = sizeof(VIDEOINFOHEADER);
      break;
    default:
      break;
  }
  out->block = std::make_unique<GuardedBlock>(length);
  std::memcpy(out->block->data(), entry.pbFormat, std::min<ULONG>(length, entry.cbFormat));
  for (ULONG i = entry.cbFormat; i < length; ++i) out->block->data()[i] = static_cast<BYTE>(random());
  type.cbFormat = length;
  type.pbFormat = length ? out->block->data() : out->block->end();
  if (random() % 12 == 0) type.pbFormat = nullptr;
  if (random() % 8 == 0) type.majortype = Pick(random, kMajors);
  if (random() % 8 == 0) type.formattype = Pick(random, kFormats);
  if (random() % 4 == 0) type.subtype = Pick(random, kSubtypes);
  if (length < sizeof(VIDEOINFOHEADER) || !type.pbFormat) return;
  auto* video = reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat);
  // Hosts change the size and the rate and leave the other sizes as the entry had them.
  if (random() % 2 == 0) video->bmiHeader.biWidth = Pick(random, kSides);
  if (random() % 2 == 0) video->bmiHeader.biHeight = Pick(random, kSides);
  if (random() % 2 == 0) video->AvgTimePerFrame = Pick(random, kIntervals);
  if (random() % 6 == 0) video->bmiHeader.biBitCount = Pick(random, kBits);
  if (random() % 6 == 0) video->bmiHeader.biSizeImage = Pick(random, kImageSizes);
  if (random() % 8 == 0) video->bmiHeader.biSize = random() % 2 ? 0 : 0xFFFFFFFF;
  if (random() % 8 == 0) type.lSampleSize = static_cast<ULONG>(random());
}

class MediaTypeInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.loaded());
    ASSERT_TRUE(source_.valid());
    ASSERT_TRUE(peer_.allocator().valid());
    ASSERT_EQ(S_OK, source_.CaptureScreenRect(RECT{0, 0, kWidth, kHeight}));
  }
  void TearDown() override {
    config_.reset();
    properties_.reset();
    source_.Release();
    EXPECT_EQ(S_OK, library_.CanUnloadNow()) << "the test left objects alive";
    EXPECT_EQ(1, peer_.refs()) << "references to the peer pin";
    EXPECT_EQ(1, unknown_.refs) << "references to a type's pUnk";
  }

  // After a connection the filter accepted, the agreed format must be one the grabber can
  // fill; then both ends are disconnected.
  void CheckAndDisconnect() {
    AM_MEDIA_TYPE agreed = {};
    ASSERT_EQ(S_OK, source_.pin()->ConnectionMediaType(&agreed));
    ASSERT_GE(agreed.cbFormat, sizeof(VIDEOINFOHEADER));
    const auto* video = reinterpret_cast<const VIDEOINFOHEADER*>(agreed.pbFormat);
    const WORD bits = video->bmiHeader.biBitCount;
    EXPECT_TRUE(bits == 8 || bits == 16 || bits == 24 || bits == 32) << bits;
    EXPECT_EQ(kWidth, video->bmiHeader.biWidth);
    EXPECT_EQ(kHeight, video->bmiHeader.biHeight);
    ReleaseMediaTypeFormat(&agreed);
    EXPECT_EQ(S_OK, source_.DisconnectFrom(&peer_));
  }

  // The pin's stream configuration and property set.
  IAMStreamConfig* config() {
    if (!config_) source_.pin()->QueryInterface(IID_IAMStreamConfig, config_.put_void());
    return config_.get();
  }
  IKsPropertySet* properties() {
    if (!properties_) source_.pin()->QueryInterface(IID_IKsPropertySet, properties_.put_void());
    return properties_.get();
  }

  ComApartment com_;
  LoadedLibrary library_;
  DesktopSource source_{library_};
  ComPtr<IAMStreamConfig> config_;
  ComPtr<IKsPropertySet> properties_;
  DownstreamPin peer_;
  CountedUnknown unknown_;
};

// Generated types proposed through QueryAccept, ReceiveConnection and Connect: short, empty,
// oversized and inconsistent format blocks, wrong bit counts, sizes and heights. Each call
// answers a defined result, and a type the filter takes gives a connection it can fill.
TEST_F(MediaTypeInputTest, GeneratedTypesAnswerDefinedResults) {
  std::mt19937 random(7);
  IPin* pin = source_.pin();
  int accepted = 0, received = 0, connected = 0;
  for (int i = 0; i < 3000 && !HasFailure(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    GeneratedType generated;
    Generate(random, &unknown_, &generated);
    const AM_MEDIA_TYPE* type = &generated.type;

    const HRESULT answer = pin->QueryAccept(type);
    EXPECT_TRUE(answer == S_OK || answer == S_FALSE) << std::hex << answer;
    if (answer == S_OK) ++accepted;

    const HRESULT receivedResult = pin->ReceiveConnection(&peer_, type);
    EXPECT_TRUE(IsDefinedConnectionResult(receivedResult)) << std::hex << receivedResult;
    if (receivedResult == S_OK) {
      ++received;
      CheckAndDisconnect();
    } else {
      ComPtr<IPin> none;
      EXPECT_EQ(VFW_E_NOT_CONNECTED, pin->ConnectedTo(none.put()));
    }

    // Connect: the generated type as proposed, and as what the receiving pin offers.
    GeneratedType offered;
    Generate(random, &unknown_, &offered);
    peer_.OfferTypes({&offered.type, type});
    const HRESULT connectResult = pin->Connect(&peer_, random() % 2 ? type : nullptr);
    EXPECT_TRUE(IsDefinedConnectionResult(connectResult) || connectResult == VFW_E_NO_ACCEPTABLE_TYPES)
        << std::hex << connectResult;
    if (connectResult == S_OK) {
      ++connected;
      CheckAndDisconnect();
    }
    peer_.OfferTypes({});
  }
  std::printf("[input] %d accepted by QueryAccept, %d by ReceiveConnection, %d connections made\n", accepted,
              received, connected);
  EXPECT_GT(received, 0);
  EXPECT_GT(connected, 0);
  EXPECT_EQ(E_POINTER, pin->QueryAccept(nullptr));
  EXPECT_EQ(E_POINTER, pin->ReceiveConnection(&peer_, nullptr));
  EXPECT_EQ(E_POINTER, pin->Connect(nullptr, nullptr));
}

// SetFormat with types edited from the capability entries and broken: short, oversized and
// inconsistent blocks, zero, negative and huge sizes and intervals, wrong bit counts, subtypes,
// major and format types; some while the pin is connected. A refusal changes nothing (the
// format the pin gives and the connection's type stay byte for byte); a type taken gives a
// format of its subtype at that size and rate whose bit count and sizes the filter computed
// itself.
TEST_F(MediaTypeInputTest, GeneratedSetFormatRequestsAnswerDefinedResults) {
  std::mt19937 random(15);
  IAMStreamConfig* stream = config();
  ASSERT_NE(nullptr, stream);
  IPin* pin = source_.pin();
  int count = 0, size = 0;
  ASSERT_EQ(S_OK, stream->GetNumberOfCapabilities(&count, &size));
  int taken = 0, refused = 0, whileConnected = 0;
  for (int i = 0; i < 3000 && !HasFailure(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    AM_MEDIA_TYPE* entry = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(S_OK, stream->GetStreamCaps(static_cast<int>(random() % count), &entry, reinterpret_cast<BYTE*>(&caps)));
    GeneratedType request;
    if (random() % 10 == 0) {
      Generate(random, &unknown_, &request);
    } else {
      GenerateRequest(random, *entry, &request);
    }
    DestroyMediaType(entry);

    // Connected now and then, when the current format is small enough for two buffers.
    std::vector<BYTE> before = CurrentFormat(stream);
    ASSERT_FALSE(before.empty());
    const bool connect = random() % 5 == 0 &&
        reinterpret_cast<const VIDEOINFOHEADER*>(before.data() + sizeof(AM_MEDIA_TYPE))->bmiHeader.biSizeImage <= 4u << 20;
    if (connect) {
      ASSERT_EQ(S_OK, pin->Connect(&peer_, nullptr));
      ++whileConnected;
      before = CurrentFormat(stream);
    }
    const auto* current = reinterpret_cast<const VIDEOINFOHEADER*>(before.data() + sizeof(AM_MEDIA_TYPE));
    const HRESULT hr = stream->SetFormat(&request.type);
    const std::vector<BYTE> after = CurrentFormat(stream);
    ASSERT_FALSE(after.empty());
    if (hr != S_OK) {
      ++refused;
      EXPECT_TRUE(hr == VFW_E_INVALIDMEDIATYPE || (connect && hr == VFW_E_ALREADY_CONNECTED)) << std::hex << hr;
      EXPECT_EQ(before, after) << "a refused SetFormat changed the format";
    } else if (connect) {
      ++taken;
      EXPECT_EQ(before, after) << "SetFormat changed the connected type";
    } else {
      ++taken;
      // Only a whole, sane request is ever taken, and the format follows it.
      const AM_MEDIA_TYPE& asked = request.type;
      ASSERT_TRUE(asked.pbFormat && asked.cbFormat >= sizeof(VIDEOINFOHEADER));
      const auto* wanted = reinterpret_cast<const VIDEOINFOHEADER*>(asked.pbFormat);
      EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Video, asked.majortype));
      EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, asked.formattype));
      // The subtype decides the format, whatever bit count the request's header was left with.
      const WORD bits = BitsOf(asked.subtype);
      EXPECT_NE(0, bits);
      EXPECT_TRUE(wanted->bmiHeader.biWidth >= 1 && wanted->bmiHeader.biWidth <= 8192) << wanted->bmiHeader.biWidth;
      EXPECT_TRUE(wanted->bmiHeader.biHeight >= 1 && wanted->bmiHeader.biHeight <= 8192) << wanted->bmiHeader.biHeight;
      const REFERENCE_TIME interval = wanted->AvgTimePerFrame;
      EXPECT_TRUE(interval == 0 || (interval >= 10000 && interval <= 10000000)) << interval;

      const auto* type = reinterpret_cast<const AM_MEDIA_TYPE*>(after.data());
      const auto* got = reinterpret_cast<const VIDEOINFOHEADER*>(after.data() + sizeof(AM_MEDIA_TYPE));
      EXPECT_TRUE(IsEqualGUID(asked.subtype, type->subtype));
      EXPECT_EQ(wanted->bmiHeader.biWidth, got->bmiHeader.biWidth);
      EXPECT_EQ(wanted->bmiHeader.biHeight, got->bmiHeader.biHeight);
      const REFERENCE_TIME rate = interval != 0 ? interval : current->AvgTimePerFrame;  // 0 keeps the rate
      EXPECT_EQ(rate, got->AvgTimePerFrame);
      EXPECT_EQ(bits, got->bmiHeader.biBitCount);
      const DWORD image = FrameBytes(asked.subtype, got->bmiHeader.biWidth, got->bmiHeader.biHeight);
      EXPECT_EQ(image, got->bmiHeader.biSizeImage);
      EXPECT_EQ(image, type->lSampleSize);
    }
    if (connect) {
      EXPECT_EQ(S_OK, source_.DisconnectFrom(&peer_));
    }
    // Back to the capture's own format now and then, as SetFormat(NULL) does.
    if (random() % 20 == 0) {
      ASSERT_EQ(S_OK, stream->SetFormat(nullptr));
    }
  }
  std::printf("[input] SetFormat: %d taken, %d refused, %d while connected\n", taken, refused, whileConnected);
  EXPECT_GT(taken, 100);
  EXPECT_GT(refused, 100);
  ASSERT_EQ(S_OK, stream->SetFormat(nullptr));
  ASSERT_EQ(S_OK, pin->Connect(&peer_, nullptr));
  const std::vector<BYTE> connected = CurrentFormat(stream);
  EXPECT_EQ(VFW_E_ALREADY_CONNECTED, stream->SetFormat(nullptr));
  EXPECT_EQ(connected, CurrentFormat(stream));
  EXPECT_EQ(S_OK, source_.DisconnectFrom(&peer_));
}

// GetStreamCaps at every index (negative, past the end, the extremes) of a display-sized
// rectangle, whose list holds the common sizes too, with the caps block ending at a guard page and null
// pointers; GetNumberOfCapabilities with null pointers. Every entry is a type hosts can read
// and pass back to SetFormat; anything else answers an error and writes nothing.
TEST_F(MediaTypeInputTest, StreamCapsAtEveryIndexAndNullPointers) {
  ASSERT_EQ(S_OK, source_.CaptureScreenRect(RECT{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)}));
  IAMStreamConfig* stream = config();
  ASSERT_NE(nullptr, stream);
  int count = 0, size = 0;
  EXPECT_EQ(E_POINTER, stream->GetNumberOfCapabilities(nullptr, &size));
  EXPECT_EQ(E_POINTER, stream->GetNumberOfCapabilities(&count, nullptr));
  ASSERT_EQ(S_OK, stream->GetNumberOfCapabilities(&count, &size));
  ASSERT_EQ(static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)), size);
  ASSERT_GT(count, 5) << "the whole display offers common sizes below it";

  std::vector<int> indexes = {INT_MIN, INT_MIN + 1, -1000, INT_MAX, INT_MAX - 1, count + 1000};
  for (int i = -5; i < count + 5; ++i) indexes.push_back(i);
  const std::vector<BYTE> initial = CurrentFormat(stream);
  for (int index : indexes) {
    SCOPED_TRACE("index " + std::to_string(index));
    for (int odd = 0; odd < 2; ++odd) {
      GuardedBlock caps(sizeof(VIDEO_STREAM_CONFIG_CAPS) + odd);
      std::memset(caps.data(), 0xEE, caps.size());
      BYTE* capsAt = caps.data() + odd;
      AM_MEDIA_TYPE* type = reinterpret_cast<AM_MEDIA_TYPE*>(&unknown_);
      const HRESULT hr = stream->GetStreamCaps(index, &type, capsAt);
      if (index < 0 || index >= count) {
        EXPECT_EQ(index < 0 ? E_INVALIDARG : S_FALSE, hr);
        EXPECT_EQ(nullptr, type);
        for (size_t b = 0; b < caps.size(); ++b) ASSERT_EQ(0xEE, caps.data()[b]) << "caps written at " << b;
        continue;
      }
      ASSERT_EQ(S_OK, hr);
      ASSERT_NE(nullptr, type);
      VIDEO_STREAM_CONFIG_CAPS entry;
      std::memcpy(&entry, capsAt, sizeof(entry));
      EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Video, type->majortype));
      EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, type->formattype));
      EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, entry.guid));
      EXPECT_EQ(nullptr, type->pUnk);
      EXPECT_TRUE(type->bFixedSizeSamples);
      ASSERT_GE(type->cbFormat, sizeof(VIDEOINFOHEADER));
      const auto* video = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
      EXPECT_EQ(video->bmiHeader.biSizeImage, type->lSampleSize);
      EXPECT_GT(video->bmiHeader.biHeight, 0);
      EXPECT_GE(video->AvgTimePerFrame, entry.MinFrameInterval);
      EXPECT_LE(video->AvgTimePerFrame, entry.MaxFrameInterval);
      EXPECT_GE(video->bmiHeader.biWidth, entry.MinOutputSize.cx);
      EXPECT_LE(video->bmiHeader.biWidth, entry.MaxOutputSize.cx);
      EXPECT_EQ(BitsOf(type->subtype), video->bmiHeader.biBitCount);
      // As hosts do: the entry, as it is, chosen.
      EXPECT_EQ(S_OK, stream->SetFormat(type));
      DestroyMediaType(type);
    }
  }
  ASSERT_EQ(S_OK, stream->SetFormat(nullptr));
  EXPECT_EQ(initial, CurrentFormat(stream));

  VIDEO_STREAM_CONFIG_CAPS caps;
  AM_MEDIA_TYPE* type = reinterpret_cast<AM_MEDIA_TYPE*>(&unknown_);
  EXPECT_EQ(E_POINTER, stream->GetStreamCaps(0, nullptr, reinterpret_cast<BYTE*>(&caps)));
  EXPECT_EQ(E_POINTER, stream->GetStreamCaps(0, &type, nullptr));
  EXPECT_EQ(nullptr, type) << "the type is nulled before the caps pointer is looked at";
  EXPECT_EQ(E_POINTER, stream->GetStreamCaps(-1, nullptr, nullptr));
  EXPECT_EQ(E_POINTER, stream->GetFormat(nullptr));
}

// IKsPropertySet's Get, QuerySupported and Set with the pin's own property and others, every
// buffer size from 0 to 64 at even and odd addresses ending at a guard page, null pointers
// and instance data. Only the pin category is answered, and only into a buffer that holds
// it; nothing is written past what a call reports.
TEST_F(MediaTypeInputTest, PropertySetCallsAtEveryBufferSize) {
  IKsPropertySet* set = properties();
  ASSERT_NE(nullptr, set);
  const GUID kOtherSet = {0x1e5a27f1, 0x42cd, 0x4f6b, {0x9a, 0x11, 0x2e, 0x3f, 0x50, 0x61, 0x72, 0x83}};
  const GUID sets[] = {AMPROPSETID_Pin, GUID_NULL, kOtherSet, PIN_CATEGORY_CAPTURE};
  const DWORD ids[] = {AMPROPERTY_PIN_CATEGORY, AMPROPERTY_PIN_MEDIUM, 2, 0xFFFFFFFF};
  int answered = 0;
  for (const GUID& propertySet : sets) {
    for (DWORD id : ids) {
      const bool category = IsEqualGUID(propertySet, AMPROPSETID_Pin) && id == AMPROPERTY_PIN_CATEGORY;
      const HRESULT unsupported = !IsEqualGUID(propertySet, AMPROPSETID_Pin) ? E_PROP_SET_UNSUPPORTED : E_PROP_ID_UNSUPPORTED;
      for (DWORD bytes = 0; bytes <= 64; ++bytes) {
        for (int shape = 0; shape < 4; ++shape) {
          SCOPED_TRACE("id " + std::to_string(id) + ", " + std::to_string(bytes) + " bytes, shape " +
                       std::to_string(shape));
          const int odd = shape & 1;
          const bool nullData = shape == 2;
          GuardedBlock data(bytes + odd);
          std::memset(data.data(), 0xEE, data.size());
          GuardedBlock instance(8 + odd);
          GuardedBlock returnedSlot(sizeof(DWORD) + odd);
          auto* returned = reinterpret_cast<DWORD*>(returnedSlot.data() + odd);
          std::memset(returned, 0xEE, sizeof(DWORD));
          void* at = nullData ? nullptr : (bytes ? data.data() + odd : data.end());
          const bool nullReturned = shape == 3;
          const HRESULT hr = set->Get(propertySet, id, shape >= 2 ? instance.data() + odd : nullptr, shape >= 2 ? 8 : 0,
                                      at, bytes, nullReturned ? nullptr : returned);
          DWORD reported = 0;
          std::memcpy(&reported, returned, sizeof(reported));
          size_t written = 0;
          if (!category) {
            EXPECT_EQ(unsupported, hr);
          } else if (nullData || nullReturned) {
            EXPECT_EQ(E_POINTER, hr);
          } else if (bytes < sizeof(GUID)) {
            EXPECT_EQ(E_UNEXPECTED, hr);
            EXPECT_EQ(sizeof(GUID), reported) << "the size a caller needs";
          } else {
            ++answered;
            EXPECT_EQ(S_OK, hr);
            EXPECT_EQ(sizeof(GUID), reported);
            GUID got;
            std::memcpy(&got, data.data() + odd, sizeof(got));
            EXPECT_TRUE(IsEqualGUID(PIN_CATEGORY_CAPTURE, got));
            written = sizeof(GUID);
          }
          if (hr != S_OK && !(category && !nullData && !nullReturned)) {
            EXPECT_EQ(0xEEEEEEEEu, reported) << "a refused Get wrote the returned size";
          }
          for (size_t b = 0; b < data.size(); ++b) {
            if (b >= static_cast<size_t>(odd) && b < odd + written) continue;
            ASSERT_EQ(0xEE, data.data()[b]) << "written at " << b;
          }

          // Set: the one property is read-only, and no other is known.
          EXPECT_EQ(E_NOTIMPL, set->Set(propertySet, id, nullptr, 0, at, bytes));
          if (hr != S_OK) {
            for (size_t b = 0; b < data.size(); ++b) ASSERT_EQ(0xEE, data.data()[b]) << "Set wrote at " << b;
          }
        }
      }
      GuardedBlock supportSlot(sizeof(DWORD) + 1);
      auto* support = reinterpret_cast<DWORD*>(supportSlot.data() + 1);
      std::memset(support, 0xEE, sizeof(DWORD));
      const HRESULT hr = set->QuerySupported(propertySet, id, support);
      DWORD got = 0;
      std::memcpy(&got, support, sizeof(got));
      if (category) {
        EXPECT_EQ(S_OK, hr);
        EXPECT_EQ(static_cast<DWORD>(KSPROPERTY_SUPPORT_GET), got);
        EXPECT_EQ(E_POINTER, set->QuerySupported(propertySet, id, nullptr));
      } else {
        EXPECT_EQ(unsupported, hr);
        EXPECT_EQ(0xEEEEEEEEu, got);
        EXPECT_EQ(unsupported, set->QuerySupported(propertySet, id, nullptr));
      }
    }
  }
  EXPECT_GT(answered, 0);
}

}  // namespace
