#include <gtest/gtest.h>

#include <dshow.h>

#include <vector>

#include "tests/framework/com_test.h"
#include "tests/framework/peer_doubles.h"
#include "tests/framework/test_source.h"

namespace {

// A filter whose pin list can change under an enumerator: it shows the pins of a test
// source, claims pinCount of them and reports version as its pin list version.
class ShiftingFilter : public CBaseFilter {
 public:
  explicit ShiftingFilter(TestSource* pins) : CBaseFilter(nullptr, &lock_, CLSID_NULL), pins_(pins) {}
  LONG PinListVersion() override { return version; }
  int PinCount() override { return pinCount; }
  CBasePin* PinAt(int index) override { return pins_->PinAt(index); }

  LONG version = 1;
  int pinCount = 0;

 private:
  SectionLock lock_;
  TestSource* pins_;
};

// A list of types whose version can change under an enumerator.
class ShiftingTypes : public TypeListPin {
 public:
  LONG MediaTypeVersion() override { return version; }
  LONG version = 1;
};

class EnumeratorTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    filter_ = TestSource::Create(kTestFrame, 3);
    source_ = TestSource::From(filter_.get());
  }
  void TearDown() override {
    filter_.reset();
    ComTest::TearDown();
  }
  ComPtr<IEnumPins> Pins(IBaseFilter* filter) {
    ComPtr<IEnumPins> pins;
    EXPECT_EQ(S_OK, filter->EnumPins(pins.put()));
    return pins;
  }
  ComPtr<IEnumMediaTypes> Types() {
    ComPtr<IEnumMediaTypes> types;
    EXPECT_EQ(S_OK, source_->Pin(0)->EnumMediaTypes(types.put()));
    return types;
  }

  ComPtr<IBaseFilter> filter_;
  TestSource* source_ = nullptr;
};

void ReleaseAll(IPin** pins, ULONG count) {
  for (ULONG i = 0; i < count; ++i) pins[i]->Release();
}

TEST_F(EnumeratorTest, PinsAreHandedOutOnceEach) {
  ComPtr<IBaseFilter> single = TestSource::Create(kTestFrame, 1);
  TestSource* source = TestSource::From(single.get());
  const ULONG refs = source->References();
  ComPtr<IEnumPins> pins = Pins(single.get());
  EXPECT_EQ(refs + 1, source->References()) << "the enumerator holds the filter";

  IPin* pin = nullptr;
  ULONG fetched = 9;
  ASSERT_EQ(S_OK, pins->Next(1, &pin, &fetched));
  EXPECT_EQ(1u, fetched);
  EXPECT_EQ(static_cast<IPin*>(source->Pin(0)), pin);
  pin->Release();
  EXPECT_EQ(S_FALSE, pins->Next(1, &pin, &fetched));
  EXPECT_EQ(0u, fetched);

  IPin* two[2] = {};
  EXPECT_EQ(E_INVALIDARG, pins->Next(2, two, nullptr));
  EXPECT_EQ(E_POINTER, pins->Next(1, nullptr, &fetched));
  ASSERT_EQ(S_OK, pins->Reset());
  EXPECT_EQ(S_FALSE, pins->Next(2, two, &fetched));
  EXPECT_EQ(1u, fetched);
  ReleaseAll(two, fetched);

  ComPtr<IEnumPins> fresh = Pins(single.get());
  EXPECT_EQ(S_OK, fresh->Skip(1));
  EXPECT_EQ(S_FALSE, fresh->Skip(1));

  pins.reset();
  fresh.reset();
  EXPECT_EQ(refs, source->References()) << "releasing the enumerator releases the filter";
}

TEST_F(EnumeratorTest, CloneGoesOnFromTheSourcePosition) {
  ComPtr<IEnumPins> pins = Pins(filter_.get());
  IPin* got[3] = {};
  ULONG fetched = 0;
  ASSERT_EQ(S_OK, pins->Next(1, got, &fetched));
  got[0]->Release();

  ComPtr<IEnumPins> clone;
  ASSERT_EQ(S_OK, pins->Clone(clone.put()));
  ASSERT_EQ(S_FALSE, clone->Next(3, got, &fetched));
  ASSERT_EQ(2u, fetched);
  EXPECT_EQ(static_cast<IPin*>(source_->Pin(1)), got[0]);
  EXPECT_EQ(static_cast<IPin*>(source_->Pin(2)), got[1]);
  ReleaseAll(got, fetched);
  EXPECT_EQ(E_POINTER, pins->Clone(nullptr));

  ComPtr<IUnknown> unknown;
  ComPtr<IEnumMediaTypes> wrong;
  EXPECT_EQ(S_OK, pins.query(&unknown));
  EXPECT_EQ(E_NOINTERFACE, pins.query(&wrong));
  EXPECT_EQ(nullptr, wrong.get());
}

TEST_F(EnumeratorTest, PinEnumeratorFollowsAChangedPinList) {
  auto* shifting = new ShiftingFilter(source_);
  ComPtr<IBaseFilter> filter;
  shifting->InnerQueryInterface(IID_IBaseFilter, filter.put_void());
  shifting->pinCount = 2;
  ComPtr<IEnumPins> pins = Pins(filter.get());
  IPin* got[3] = {};
  ULONG fetched = 0;
  ASSERT_EQ(S_OK, pins->Next(1, got, &fetched));
  got[0]->Release();

  // A new version: Skip and Clone refuse, Next starts over but skips what it handed out.
  shifting->version = 2;
  shifting->pinCount = 3;
  EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins->Skip(1));
  IEnumPins* raw = reinterpret_cast<IEnumPins*>(1);
  EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins->Clone(&raw));
  EXPECT_EQ(nullptr, raw);
  ASSERT_EQ(S_FALSE, pins->Next(3, got, &fetched));
  ASSERT_EQ(2u, fetched);
  EXPECT_EQ(static_cast<IPin*>(source_->Pin(1)), got[0]);
  EXPECT_EQ(static_cast<IPin*>(source_->Pin(2)), got[1]);
  ReleaseAll(got, fetched);
  pins.reset();
  filter.reset();
}

TEST_F(EnumeratorTest, PinsAlreadyPlacedAreTakenBackWhenTheListShrinks) {
  auto* shifting = new ShiftingFilter(source_);
  ComPtr<IBaseFilter> filter;
  shifting->InnerQueryInterface(IID_IBaseFilter, filter.put_void());
  shifting->pinCount = 5;  // claims two pins more than there are
  ComPtr<IEnumPins> pins = Pins(filter.get());
  const ULONG refs = source_->References();

  IPin* got[5] = {};
  ULONG fetched = 7;
  EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins->Next(5, got, &fetched));
  EXPECT_EQ(0u, fetched);
  for (IPin* p : got) EXPECT_EQ(nullptr, p);
  EXPECT_EQ(refs, source_->References()) << "references to the pins already placed were given back";
  pins.reset();
  filter.reset();
}

TEST_F(EnumeratorTest, TypesComeInPositionOrder) {
  ComPtr<IEnumMediaTypes> types = Types();
  AM_MEDIA_TYPE* got[10] = {};
  ULONG fetched = 0;
  ASSERT_EQ(S_FALSE, types->Next(10, got, &fetched));
  ASSERT_EQ(5u, fetched);
  const GUID* expected[] = {&MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB565, &MEDIASUBTYPE_RGB555,
                            &MEDIASUBTYPE_RGB8};
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(IsEqualGUID(*expected[i], got[i]->subtype)) << i;
    EXPECT_EQ(1128u, got[i]->cbFormat);
    DestroyMediaType(got[i]);
  }
  EXPECT_EQ(S_FALSE, types->Next(1, got, &fetched));
  EXPECT_EQ(0u, fetched);
  EXPECT_EQ(E_INVALIDARG, types->Next(2, got, nullptr));
  EXPECT_EQ(E_POINTER, types->Next(1, nullptr, &fetched));

  // Skip(5) lands past the last type; Skip(6) passes it and Next finds nothing.
  ComPtr<IEnumMediaTypes> five = Types();
  EXPECT_EQ(S_OK, five->Skip(5));
  ComPtr<IEnumMediaTypes> six = Types();
  EXPECT_EQ(S_FALSE, six->Skip(6));
  EXPECT_EQ(S_FALSE, six->Next(1, got, &fetched));
  EXPECT_EQ(0u, fetched);
  EXPECT_EQ(S_OK, six->Skip(0));

  // A clone goes on from where its source stands.
  ASSERT_EQ(S_OK, types->Reset());
  ASSERT_EQ(S_OK, types->Skip(2));
  ComPtr<IEnumMediaTypes> clone;
  ASSERT_EQ(S_OK, types->Clone(clone.put()));
  ASSERT_EQ(S_OK, clone->Next(1, got, nullptr));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB565, got[0]->subtype));
  DestroyMediaType(got[0]);
}

TEST_F(EnumeratorTest, TypeEnumeratorHoldsThePinAndSoTheFilter) {
  const ULONG refs = source_->References();
  ComPtr<IEnumMediaTypes> types = Types();
  EXPECT_EQ(refs + 1, source_->References());
  ComPtr<IUnknown> unknown;
  ComPtr<IEnumPins> wrong;
  EXPECT_EQ(S_OK, types.query(&unknown));
  EXPECT_EQ(E_NOINTERFACE, types.query(&wrong));
  unknown.reset();
  types.reset();
  EXPECT_EQ(refs, source_->References());
}

TEST_F(EnumeratorTest, NoMemoryForARecordEndsTheList) {
  ComPtr<IEnumMediaTypes> types = Types();
  const auto saved = TaskMemAlloc;
  // Format blocks may be had; the records themselves may not.
  TaskMemAlloc = [](SIZE_T bytes) -> void* {
    return bytes == sizeof(AM_MEDIA_TYPE) ? nullptr : ::CoTaskMemAlloc(bytes);
  };
  AM_MEDIA_TYPE* got[2] = {reinterpret_cast<AM_MEDIA_TYPE*>(1), reinterpret_cast<AM_MEDIA_TYPE*>(1)};
  ULONG fetched = 9;
  const HRESULT hr = types->Next(2, got, &fetched);
  TaskMemAlloc = saved;
  EXPECT_EQ(S_FALSE, hr);
  EXPECT_EQ(0u, fetched);
  EXPECT_EQ(nullptr, got[0]);
}

TEST_F(EnumeratorTest, TypeEnumeratorDoesNotFollowAChangedList) {
  ShiftingTypes list;
  MediaType type;
  DesktopMediaTypeAt(kTestFrame, 0, &type);
  list.Add(type);
  list.Add(type);
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(S_OK, list.EnumMediaTypes(types.put()));
  list.version = 2;
  AM_MEDIA_TYPE* got = nullptr;
  ULONG fetched = 0;
  EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Next(1, &got, &fetched));
  EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Skip(1));
  EXPECT_EQ(S_OK, types->Skip(0));
  IEnumMediaTypes* clone = reinterpret_cast<IEnumMediaTypes*>(1);
  EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Clone(&clone));
  EXPECT_EQ(nullptr, clone);
  ASSERT_EQ(S_OK, types->Reset());
  ASSERT_EQ(S_OK, types->Next(1, &got, &fetched));
  DestroyMediaType(got);
}

}  // namespace
