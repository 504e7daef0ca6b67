#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <climits>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "tests/reliability/support/desktop_source.h"
#include "tests/reliability/support/downstream_double.h"
#include "tests/reliability/support/guarded_memory.h"
#include "tests/support/capture_graph.h"
#include "tests/support/library.h"

namespace {

constexpr LONG kWidth = 64;
constexpr LONG kHeight = 48;

// An IUnknown that only counts, carried as a type's pUnk: every reference the filter takes
// must come back.
class CountedUnknown : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  long refs = 1;
};

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

class MediaTypeInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.loaded());
    ASSERT_TRUE(source_.valid());
    ASSERT_TRUE(peer_.allocator().valid());
    ASSERT_EQ(S_OK, source_.CaptureScreenRect(RECT{0, 0, kWidth, kHeight}));
  }
  void TearDown() override {
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

  ComApartment com_;
  LoadedLibrary library_;
  DesktopSource source_{library_};
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

}  // namespace
