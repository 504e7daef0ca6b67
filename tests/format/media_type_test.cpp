#include <gtest/gtest.h>

#include <dshow.h>

#include <atomic>
#include <cstring>

#include "format/media_type.h"
#include "tests/support/live_objects.h"

namespace {

// A pUnk whose references the tests can count.
class CountedUnknown : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  ULONG refs = 1;
};

// Lets the next `allowed` allocations of records and format blocks succeed and makes the
// later ones fail, while it lives.
class FailingTaskMemory {
 public:
  explicit FailingTaskMemory(int allowed = 0) : saved_(TaskMemAlloc) {
    allowed_ = allowed;
    TaskMemAlloc = [](SIZE_T bytes) -> void* { return allowed_-- > 0 ? CoTaskMemAlloc(bytes) : nullptr; };
  }
  ~FailingTaskMemory() { TaskMemAlloc = saved_; }

 private:
  static inline int allowed_ = 0;
  TaskMemAllocFn saved_;
};

// Sees every task memory free while it is registered (CoRegisterMallocSpy) and counts those
// of the two blocks it watches. It adds no header of its own to any allocation.
class FreeSpy final : public IMallocSpy {
 public:
  FreeSpy(const void* first, const void* second) : watched_{first, second} {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    const bool known = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMallocSpy);
    *out = known ? static_cast<IMallocSpy*>(this) : nullptr;
    return known ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
  void* STDMETHODCALLTYPE PostAlloc(void* actual) override { return actual; }
  void* STDMETHODCALLTYPE PreFree(void* request, BOOL) override {
    for (const void* block : watched_) freed_ += request && request == block;
    return request;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* request, SIZE_T size, void** actual, BOOL) override {
    *actual = request;
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* actual, BOOL) override { return actual; }
  void* STDMETHODCALLTYPE PreGetSize(void* request, BOOL) override { return request; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* request, BOOL) override { return request; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}

  int freed() const { return freed_; }

 private:
  const void* watched_[2];
  std::atomic<int> freed_{0};
};

void FillVideoType(MediaType* type, ULONG length, BYTE pattern) {
  type->StoreMajorType(MEDIATYPE_Video);
  type->StoreSubtype(MEDIASUBTYPE_RGB24);
  type->StoreFormatType(FORMAT_VideoInfo);
  BYTE* block = type->Resize(length);
  ASSERT_NE(nullptr, block);
  std::memset(block, pattern, length);
}

TEST(MediaTypeTest, NewRecordHasTheDefaults) {
  MediaType type;
  EXPECT_TRUE(IsEqualGUID(GUID_NULL, type.majortype));
  EXPECT_TRUE(type.bFixedSizeSamples);
  EXPECT_EQ(1u, type.lSampleSize);
  EXPECT_EQ(0u, type.cbFormat);
  EXPECT_EQ(nullptr, type.pbFormat);
  EXPECT_EQ(nullptr, type.pUnk);
  type.StoreSampleSize(0);
  EXPECT_FALSE(type.bFixedSizeSamples);
  EXPECT_EQ(1u, type.lSampleSize);
  type.StoreSampleSize(640);
  EXPECT_TRUE(type.bFixedSizeSamples);
  EXPECT_EQ(640u, type.lSampleSize);
}

TEST(MediaTypeTest, CopiesOwnTheirBlockAndAReferenceOnPUnk) {
  CountedUnknown extra;
  {
    MediaType source;
    FillVideoType(&source, 88, 0x5A);
    source.pUnk = &extra;
    extra.AddRef();
    {
      MediaType copy;
      ASSERT_EQ(S_OK, copy.Assign(source));
      EXPECT_EQ(3u, extra.refs);
      EXPECT_NE(source.pbFormat, copy.pbFormat) << "no two records share a block";
      EXPECT_EQ(0, std::memcmp(source.pbFormat, copy.pbFormat, 88));
      EXPECT_TRUE(copy.Equals(source));
      ReleaseMediaTypeFormat(&copy);
      EXPECT_EQ(2u, extra.refs);
      EXPECT_EQ(0u, copy.cbFormat);
      EXPECT_EQ(nullptr, copy.pbFormat);
      ReleaseMediaTypeFormat(&copy);  // a second release frees nothing
      EXPECT_EQ(2u, extra.refs);
    }
    // Self-assignment keeps the block and the reference.
    BYTE* block = source.pbFormat;
    ASSERT_EQ(S_OK, AssignMediaType(&source, &source));
    EXPECT_EQ(block, source.pbFormat);
    EXPECT_EQ(88u, source.cbFormat);
    EXPECT_EQ(2u, extra.refs);
  }
  EXPECT_EQ(1u, extra.refs);
}

TEST(MediaTypeTest, FailedCopiesKeepNoUnreferencedPUnkAndNoMemory) {
  CountedUnknown extra;
  MediaType source;
  FillVideoType(&source, 40, 1);
  source.pUnk = &extra;
  extra.AddRef();
  MediaType copy;
  {
    FailingTaskMemory failing;
    EXPECT_EQ(E_OUTOFMEMORY, copy.Assign(source));
  }
  EXPECT_EQ(nullptr, copy.pUnk);
  EXPECT_EQ(0u, copy.cbFormat);
  EXPECT_EQ(nullptr, copy.pbFormat);
  EXPECT_EQ(2u, extra.refs);

  // A copy that is task memory itself: no record, or a record whose block cannot be had.
  for (int allowed : {0, 1}) {
    FailingTaskMemory failing(allowed);
    EXPECT_EQ(nullptr, CreateMediaTypeCopy(source)) << allowed;
    EXPECT_EQ(2u, extra.refs);
  }
  AM_MEDIA_TYPE* record = CreateMediaTypeCopy(source);
  ASSERT_NE(nullptr, record);
  EXPECT_TRUE(MediaTypeEquals(*record, source));
  EXPECT_NE(source.pbFormat, record->pbFormat);
  EXPECT_EQ(3u, extra.refs);
  DestroyMediaType(record);
  EXPECT_EQ(2u, extra.refs);
}

TEST(MediaTypeTest, DestroyFreesTaskMemoryRecords) {
  CountedUnknown extra;
  auto* record = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  InitMediaType(record);
  record->pUnk = &extra;
  extra.AddRef();
  record->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(16));
  record->cbFormat = 16;
  FreeSpy spy(record, record->pbFormat);
  ASSERT_EQ(S_OK, CoRegisterMallocSpy(&spy));
  DestroyMediaType(record);
  DestroyMediaType(nullptr);
  EXPECT_EQ(S_OK, CoRevokeMallocSpy());
  EXPECT_EQ(1u, extra.refs);
  EXPECT_EQ(2, spy.freed()) << "the format block and the record go back to task memory";
}

TEST(MediaTypeTest, ResizeFormatCases) {
  MediaType type;
  BYTE* first = type.Resize(32);
  ASSERT_NE(nullptr, first);
  std::memset(first, 0x77, 32);
  EXPECT_EQ(first, type.Resize(32)) << "same length: same block, contents intact";
  EXPECT_EQ(0x77, first[31]);

  BYTE* bigger = type.Resize(64);
  ASSERT_NE(nullptr, bigger);
  EXPECT_EQ(64u, type.cbFormat);

  FailingTaskMemory failing;
  EXPECT_EQ(bigger, type.Resize(16)) << "a smaller length fits in the old block";
  EXPECT_EQ(64u, type.cbFormat);
  EXPECT_EQ(nullptr, type.Resize(128));
  EXPECT_EQ(bigger, type.pbFormat) << "a failed growth leaves the record unchanged";
  EXPECT_EQ(64u, type.cbFormat);
}

TEST(MediaTypeTest, EqualityIgnoresSizesFlagsAndPUnk) {
  MediaType a, b;
  FillVideoType(&a, 24, 3);
  FillVideoType(&b, 24, 3);
  b.lSampleSize = 99;
  b.bFixedSizeSamples = FALSE;
  b.bTemporalCompression = TRUE;
  EXPECT_TRUE(a.Equals(b));
  b.pbFormat[23] = 4;
  EXPECT_FALSE(a.Equals(b));
  b.pbFormat[23] = 3;
  b.StoreSubtype(MEDIASUBTYPE_RGB32);
  EXPECT_FALSE(a.Equals(b));
  MediaType c;
  FillVideoType(&c, 20, 3);
  EXPECT_FALSE(a.Equals(c));
}

TEST(MediaTypeTest, PatternsAndCompleteness) {
  MediaType record;
  FillVideoType(&record, 16, 9);
  MediaType pattern;
  pattern.majortype = GUID_NULL;
  EXPECT_TRUE(record.Matches(pattern)) << "an all-null pattern matches everything";

  pattern.StoreMajorType(MEDIATYPE_Video);
  EXPECT_TRUE(record.Matches(pattern));
  pattern.StoreMajorType(MEDIATYPE_Audio);
  EXPECT_FALSE(record.Matches(pattern));

  pattern.StoreMajorType(MEDIATYPE_Video);
  pattern.StoreSubtype(MEDIASUBTYPE_RGB24);
  pattern.StoreFormatType(FORMAT_VideoInfo);
  EXPECT_FALSE(record.Matches(pattern)) << "a format type requires the same block length";
  std::memcpy(pattern.Resize(16), record.pbFormat, 16);
  EXPECT_TRUE(record.Matches(pattern));
  pattern.pbFormat[0] ^= 1;
  EXPECT_FALSE(record.Matches(pattern));

  MediaType bare, barePattern;
  bare.StoreMajorType(MEDIATYPE_Video);
  bare.StoreFormatType(FORMAT_VideoInfo);
  barePattern.StoreMajorType(MEDIATYPE_Video);
  barePattern.StoreFormatType(FORMAT_VideoInfo);
  EXPECT_TRUE(bare.Matches(barePattern)) << "same GUIDs, both without a block";

  EXPECT_FALSE(bare.Incomplete()) << "the subtype is not looked at";
  bare.StoreFormatType(GUID_NULL);
  EXPECT_TRUE(bare.Incomplete());
  EXPECT_TRUE(MediaType().Incomplete());
}

struct HeaderWithMasks {
  BITMAPINFOHEADER header;
  DWORD masks[3];
};

HeaderWithMasks Header(LONG width, LONG height, WORD bits, DWORD compression, DWORD r = 0, DWORD g = 0,
                       DWORD b = 0) {
  HeaderWithMasks h{};
  h.header.biSize = sizeof(BITMAPINFOHEADER);
  h.header.biWidth = width;
  h.header.biHeight = height;
  h.header.biPlanes = 1;
  h.header.biBitCount = bits;
  h.header.biCompression = compression;
  h.masks[0] = r;
  h.masks[1] = g;
  h.masks[2] = b;
  return h;
}

TEST(MediaTypeTest, SubtypeFromHeader) {
  auto subtype = [](HeaderWithMasks h) { return SubtypeFromHeader(&h.header); };
  EXPECT_EQ(MEDIASUBTYPE_RGB555, subtype(Header(8, 8, 16, BI_RGB)));
  EXPECT_EQ(MEDIASUBTYPE_RGB565, subtype(Header(8, 8, 16, BI_BITFIELDS, 0xF800, 0x07E0, 0x001F)));
  EXPECT_EQ(MEDIASUBTYPE_RGB555, subtype(Header(8, 8, 16, BI_BITFIELDS, 0x7C00, 0x03E0, 0x001F)));
  EXPECT_EQ(GUID_NULL, subtype(Header(8, 8, 16, BI_BITFIELDS, 0x0F00, 0x00F0, 0x000F)));
  EXPECT_EQ(GUID_NULL, subtype(Header(8, 8, 2, BI_RGB)));
  EXPECT_EQ(MEDIASUBTYPE_RGB32, subtype(Header(8, 8, 32, BI_BITFIELDS, 1, 2, 3)));
  EXPECT_EQ(MEDIASUBTYPE_RGB24, subtype(Header(8, 8, 24, BI_RGB)));
  EXPECT_EQ(MEDIASUBTYPE_RGB8, subtype(Header(8, 8, 8, BI_RGB)));
  EXPECT_EQ(MEDIASUBTYPE_RGB4, subtype(Header(8, 8, 4, BI_RGB)));
  EXPECT_EQ(MEDIASUBTYPE_RGB1, subtype(Header(8, 8, 1, BI_RGB)));

  const DWORD yuy2 = MAKEFOURCC('Y', 'U', 'Y', '2');
  const GUID expected = {yuy2, 0, 0x10, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
  EXPECT_EQ(expected, subtype(Header(8, 8, 16, yuy2)));
  EXPECT_EQ(expected, subtype(Header(8, 8, 7, yuy2))) << "whatever the bit count";
}

TEST(MediaTypeTest, ImageSizeRoundsRowsToWords) {
  auto size = [](LONG w, LONG h, WORD bits) {
    HeaderWithMasks header = Header(w, h, bits, BI_RGB);
    return ImageSize(&header.header);
  };
  EXPECT_EQ(923520u, size(641, 480, 24));
  for (WORD bits : {1, 4, 8, 16, 24, 32}) EXPECT_EQ(4u, size(1, 1, bits)) << bits;
  EXPECT_EQ(307200u, size(320, -240, 32));
  EXPECT_EQ(307200u, size(320, 240, 32));
  EXPECT_EQ(3148800u, size(1366, 768, 24));
  EXPECT_EQ(1050624u, size(1366, 768, 8));
  EXPECT_EQ(0u, size(0, 768, 24));
}

}  // namespace
