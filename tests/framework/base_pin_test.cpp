#include <gtest/gtest.h>

#include <dshow.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/framework/com_test.h"
#include "tests/framework/peer_doubles.h"
#include "tests/framework/test_source.h"

namespace {

// The connection protocol of the test source's pin (320 x 240) against a receiving double.
class PinTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    filter_ = TestSource::Create(kTestFrame);
    source_ = TestSource::From(filter_.get());
    pin_ = source_->Pin(0);
  }
  void TearDown() override {
    filter_->Stop();
    pin_->Disconnect();
    filter_.reset();
    EXPECT_EQ(1, peer_.count.refs) << "references on the peer left behind";
    ComTest::TearDown();
  }
  static void Offered(FrameSize size, int position, MediaType* type) { DesktopMediaTypeAt(size, position, type); }
  static GUID SubtypeAt(int position) {
    MediaType type;
    Offered(kTestFrame, position, &type);
    return type.subtype;
  }
  // Ours in their order, up to RGB8 (position 4).
  std::vector<GUID> OurSubtypes() {
    std::vector<GUID> all;
    for (int i = 0; i <= 4; ++i) all.push_back(SubtypeAt(i));
    return all;
  }

  ComPtr<IBaseFilter> filter_;
  TestSource* source_ = nullptr;
  TestPin* pin_ = nullptr;
  FakeInputPin peer_;
  TypeListPin receiverTypes_;
};

bool SameGuids(const std::vector<GUID>& a, const std::vector<GUID>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!IsEqualGUID(a[i], b[i])) return false;
  }
  return true;
}

TEST_F(PinTest, ReceiverTypesAreTriedBeforeOurOwn) {
  MediaType wide, fits;
  Offered({640, 480}, 1, &wide);  // refused by our pin: wrong size
  Offered(kTestFrame, 2, &fits);  // ours, but the receiver will not take it
  receiverTypes_.Add(wide);
  receiverTypes_.Add(fits);
  peer_.typeList = &receiverTypes_;
  peer_.acceptOnly = MEDIASUBTYPE_RGB8;

  ASSERT_EQ(S_OK, pin_->Connect(&peer_, nullptr));
  ASSERT_GE(pin_->verified.size(), 3u);
  EXPECT_EQ(640, pin_->verified[0].width);
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB24, pin_->verified[0].subtype));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB565, pin_->verified[1].subtype));
  std::vector<GUID> expected = {MEDIASUBTYPE_RGB565};
  for (const GUID& g : OurSubtypes()) expected.push_back(g);
  EXPECT_TRUE(SameGuids(expected, peer_.offered));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB8, pin_->ConnectionType().subtype));
  EXPECT_EQ(1, pin_->typeLists);
}

TEST_F(PinTest, AReceiverTypeThatConnectsEndsTheSearch) {
  MediaType fits;
  Offered(kTestFrame, 3, &fits);
  receiverTypes_.Add(fits);
  peer_.typeList = &receiverTypes_;
  ASSERT_EQ(S_OK, pin_->Connect(&peer_, nullptr));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB555, pin_->ConnectionType().subtype));
  EXPECT_EQ(0, pin_->typeLists) << "our own types were not needed";
  EXPECT_TRUE(peer_.connected);
}

TEST_F(PinTest, PartialProposedTypeIsAPatternForTheCandidates) {
  MediaType audio;
  audio.majortype = MEDIATYPE_Audio;
  audio.subtype = MEDIASUBTYPE_PCM;
  receiverTypes_.Add(audio);
  peer_.typeList = &receiverTypes_;

  MediaType pattern;
  pattern.majortype = MEDIATYPE_Video;
  pattern.subtype = MEDIASUBTYPE_RGB555;
  ASSERT_EQ(S_OK, pin_->Connect(&peer_, &pattern));
  EXPECT_TRUE(SameGuids({MEDIASUBTYPE_RGB555}, peer_.offered));
  for (const auto& v : pin_->verified) {
    EXPECT_FALSE(IsEqualGUID(MEDIASUBTYPE_PCM, v.subtype)) << "a type of another major type was tried";
  }
}

TEST_F(PinTest, CompleteProposedTypeIsTheOnlyCandidate) {
  MediaType wrongSize;
  Offered({640, 480}, 0, &wrongSize);
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, pin_->Connect(&peer_, &wrongSize));
  EXPECT_EQ(0, pin_->typeLists);
  EXPECT_TRUE(peer_.offered.empty());
  EXPECT_FALSE(pin_->IsConnected());

  // The receiver's refusal of a complete type is the result.
  MediaType right;
  Offered(kTestFrame, 0, &right);
  peer_.receiveConnectionResult = E_ACCESSDENIED;
  EXPECT_EQ(E_ACCESSDENIED, pin_->Connect(&peer_, &right));
  EXPECT_FALSE(pin_->IsConnected());
  EXPECT_EQ(nullptr, pin_->PeerInputPin());
}

TEST_F(PinTest, SearchReportsTheFirstSpecificFailureOfTheLastPassThatMetOne) {
  // Plain refusals only: no acceptable types.
  peer_.acceptOnly = MEDIASUBTYPE_ARGB32;
  peer_.refusal = E_FAIL;
  EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, pin_->Connect(&peer_, nullptr));

  // Our pass meets two specific failures: the first one counts.
  peer_.refusals = {{MEDIASUBTYPE_RGB24, E_ACCESSDENIED}, {MEDIASUBTYPE_RGB565, E_OUTOFMEMORY}};
  EXPECT_EQ(E_ACCESSDENIED, pin_->Connect(&peer_, nullptr));

  // The receiver's pass met one, ours none: the receiver's stands.
  MediaType rgb8;
  Offered(kTestFrame, 4, &rgb8);
  receiverTypes_.Add(rgb8);
  peer_.typeList = &receiverTypes_;
  peer_.refusals.clear();
  peer_.script = {E_OUTOFMEMORY};
  EXPECT_EQ(E_OUTOFMEMORY, pin_->Connect(&peer_, nullptr));

  // Both met one: the later pass, ours, wins.
  peer_.script = {E_OUTOFMEMORY, E_FAIL, E_ACCESSDENIED};
  EXPECT_EQ(E_ACCESSDENIED, pin_->Connect(&peer_, nullptr));
  EXPECT_FALSE(pin_->IsConnected());
}

TEST_F(PinTest, FailedApplyAbandonsTheAttemptBeforeThePeerIsAsked) {
  // The subtype passes the checks, but a 4-bit header is no depth the pin produces.
  MediaType type;
  Offered(kTestFrame, 1, &type);
  reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader.biBitCount = 4;
  EXPECT_EQ(E_INVALIDARG, pin_->Connect(&peer_, &type));
  EXPECT_TRUE(peer_.offered.empty());
  EXPECT_FALSE(pin_->IsConnected());
}

TEST_F(PinTest, ConnectionIsMadeOnceAndOnlyWhileStopped) {
  MediaType type;
  Offered(kTestFrame, 0, &type);
  ASSERT_EQ(S_OK, filter_->Pause());
  EXPECT_EQ(VFW_E_NOT_STOPPED, pin_->Connect(&peer_, &type));
  EXPECT_EQ(VFW_E_NOT_STOPPED, pin_->ReceiveConnection(&peer_, &type));
  ASSERT_EQ(S_OK, filter_->Stop());

  ASSERT_EQ(S_OK, pin_->Connect(&peer_, &type));
  FakeInputPin other;
  EXPECT_EQ(VFW_E_ALREADY_CONNECTED, pin_->Connect(&other, &type));
  EXPECT_EQ(VFW_E_ALREADY_CONNECTED, pin_->ReceiveConnection(&other, &type));
  EXPECT_EQ(static_cast<IPin*>(&peer_), pin_->Peer());
  EXPECT_EQ(1, other.count.refs);

  ASSERT_EQ(S_OK, filter_->Pause());
  EXPECT_EQ(VFW_E_NOT_STOPPED, pin_->Disconnect());
  EXPECT_TRUE(pin_->IsConnected());
  ASSERT_EQ(S_OK, filter_->Stop());
}

TEST_F(PinTest, ConnectionQueriesFollowTheConnection) {
  IPin* peer = reinterpret_cast<IPin*>(1);
  EXPECT_EQ(VFW_E_NOT_CONNECTED, pin_->ConnectedTo(&peer));
  EXPECT_EQ(nullptr, peer);
  AM_MEDIA_TYPE type;
  std::memset(&type, 0xAB, sizeof(type));
  EXPECT_EQ(VFW_E_NOT_CONNECTED, pin_->ConnectionMediaType(&type));
  EXPECT_TRUE(IsEqualGUID(GUID_NULL, type.majortype));
  EXPECT_EQ(nullptr, type.pbFormat);
  EXPECT_EQ(S_FALSE, pin_->Disconnect());

  MediaType offered;
  Offered(kTestFrame, 2, &offered);
  ASSERT_EQ(S_OK, pin_->Connect(&peer_, &offered));
  ASSERT_EQ(S_OK, pin_->ConnectedTo(&peer));
  EXPECT_EQ(static_cast<IPin*>(&peer_), peer);
  peer->Release();
  ASSERT_EQ(S_OK, pin_->ConnectionMediaType(&type));
  EXPECT_TRUE(MediaTypeEquals(offered, type));
  EXPECT_NE(offered.pbFormat, type.pbFormat) << "the caller gets its own copy";
  ReleaseMediaTypeFormat(&type);

  EXPECT_EQ(S_OK, pin_->Disconnect());
  EXPECT_EQ(VFW_E_NOT_CONNECTED, pin_->ConnectedTo(&peer));
  EXPECT_EQ(nullptr, peer);
  EXPECT_EQ(1, peer_.count.refs);
  EXPECT_EQ(E_POINTER, pin_->ConnectedTo(nullptr));
  EXPECT_EQ(E_POINTER, pin_->ConnectionMediaType(nullptr));
}

TEST_F(PinTest, ReceivingAConnection) {
  MediaType type;
  Offered(kTestFrame, 1, &type);
  EXPECT_EQ(E_POINTER, pin_->ReceiveConnection(nullptr, &type));
  EXPECT_EQ(E_POINTER, pin_->ReceiveConnection(&peer_, nullptr));

  MediaType wrong;
  Offered({640, 480}, 1, &wrong);
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, pin_->ReceiveConnection(&peer_, &wrong));

  // The allocator cannot be agreed: the attempt leaves nothing behind.
  peer_.notifyFailures = 1;
  EXPECT_EQ(VFW_E_BADALIGN, pin_->ReceiveConnection(&peer_, &type));
  EXPECT_FALSE(pin_->IsConnected());
  EXPECT_EQ(nullptr, pin_->PeerInputPin());

  peer_.notifyFailures = 0;
  peer_.notified.clear();
  ASSERT_EQ(S_OK, pin_->ReceiveConnection(&peer_, &type));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB24, pin_->ConnectionType().subtype));
  EXPECT_NE(nullptr, pin_->SampleAllocator());
}

TEST_F(PinTest, PinReferencesAreFilterReferences) {
  const ULONG refs = source_->References();
  IPin* pin = pin_;
  pin->AddRef();
  EXPECT_EQ(refs + 1, source_->References());
  ComPtr<IQualityControl> quality;
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(S_OK, ComPtr<IPin>(pin).query(&quality));
  ASSERT_EQ(S_OK, ComPtr<IPin>(pin).query(&unknown));
  EXPECT_EQ(refs + 3, source_->References());
  quality.reset();
  unknown.reset();
  pin->Release();
  EXPECT_EQ(refs, source_->References());

  PIN_INFO info;
  ASSERT_EQ(S_OK, pin->QueryPinInfo(&info));
  EXPECT_EQ(filter_.get(), info.pFilter);
  EXPECT_STREQ(L"Out", info.achName);
  EXPECT_EQ(PINDIR_OUTPUT, info.dir);
  EXPECT_EQ(refs + 1, source_->References());
  info.pFilter->Release();

  PIN_DIRECTION direction;
  EXPECT_EQ(S_OK, pin->QueryDirection(&direction));
  EXPECT_EQ(PINDIR_OUTPUT, direction);
  EXPECT_EQ(E_POINTER, pin->QueryDirection(nullptr));
  EXPECT_EQ(E_POINTER, pin->QueryPinInfo(nullptr));
}

TEST_F(PinTest, LongPinNameIsCutTo127Characters) {
  const std::wstring name(200, L'p');
  new TestPin(source_, kTestFrame, name.c_str(), nullptr);  // the filter owns it
  PIN_INFO info;
  ASSERT_EQ(S_OK, source_->Pin(1)->QueryPinInfo(&info));
  EXPECT_EQ(name.substr(0, 127), info.achName);
  EXPECT_EQ(name, source_->Pin(1)->Name()) << "the pin keeps its whole name";
  info.pFilter->Release();
}

TEST_F(PinTest, QueryAcceptAnswersWithoutFailing) {
  MediaType type;
  Offered(kTestFrame, 0, &type);
  EXPECT_EQ(S_OK, pin_->QueryAccept(&type));
  MediaType wrong;
  Offered({640, 480}, 0, &wrong);
  EXPECT_EQ(S_FALSE, pin_->QueryAccept(&wrong));
  EXPECT_EQ(E_POINTER, pin_->QueryAccept(nullptr));
}

}  // namespace
