#include <gtest/gtest.h>

#include <dshow.h>

#include "format/desktop_formats.h"
#include "tests/framework/com_test.h"
#include "tests/framework/peer_doubles.h"
#include "tests/framework/test_source.h"

namespace {

// Our test source's one output pin against a downstream double.
class OutputPinTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    filter_ = TestSource::Create(kTestFrame);
    source_ = TestSource::From(filter_.get());
    pin_ = source_->Pin(0);
    DesktopMediaTypeAt(kTestFrame, 0, &rgb32_);
  }
  void TearDown() override {
    pin_->Disconnect();
    filter_.reset();
    EXPECT_EQ(1, peer_.count.refs) << "references on the peer left behind";
    EXPECT_EQ(1, downstream_.count.refs) << "references on the allocator left behind";
    ReleaseMediaTypeFormat(&rgb32_);
    ComTest::TearDown();
  }
  HRESULT Connect() { return pin_->Connect(&peer_, &rgb32_); }
  ALLOCATOR_PROPERTIES Granted() {
    ALLOCATOR_PROPERTIES props = {};
    pin_->SampleAllocator()->GetProperties(&props);
    return props;
  }

  ComPtr<IBaseFilter> filter_;
  TestSource* source_ = nullptr;
  TestPin* pin_ = nullptr;
  MediaType rgb32_;
  FakeInputPin peer_;
  FakeAllocator downstream_;
};

constexpr LONG kFrameBytes = 320 * 240 * 4;

TEST_F(OutputPinTest, UsesTheDownstreamAllocatorWhenItTakesAFrame) {
  peer_.offeredAllocator = &downstream_;
  ASSERT_EQ(S_OK, Connect());
  EXPECT_EQ(&downstream_, pin_->SampleAllocator());
  EXPECT_EQ(0, pin_->ownAllocators);
  ASSERT_EQ(1u, peer_.notified.size());
  EXPECT_EQ(&downstream_, peer_.notified[0].allocator);
  EXPECT_FALSE(peer_.notified[0].readOnly);
  ASSERT_EQ(1u, downstream_.requests.size());
  EXPECT_EQ(2, downstream_.requests[0].cBuffers);
  EXPECT_EQ(kFrameBytes, downstream_.requests[0].cbBuffer);
  EXPECT_EQ(1, downstream_.requests[0].cbAlign);
  EXPECT_EQ(0, downstream_.requests[0].cbPrefix);

  // Disconnecting decommits and gives both references back.
  EXPECT_EQ(S_OK, pin_->Disconnect());
  EXPECT_EQ(1, downstream_.decommits);
  EXPECT_EQ(nullptr, pin_->SampleAllocator());
  EXPECT_EQ(nullptr, pin_->PeerInputPin());
}

TEST_F(OutputPinTest, FallsBackToItsOwnAllocator) {
  struct Case {
    const char* what;
    bool offer;
    LONG shortBy;
    HRESULT setProperties;
    int notifyFailures;
  };
  const Case cases[] = {
      {"GetAllocator fails", false, 0, S_OK, 0},
      {"downstream grants one byte less", true, 1, S_OK, 0},
      {"downstream refuses the properties", true, 0, VFW_E_BADALIGN, 0},
      {"downstream refuses the notification", true, 0, S_OK, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeInputPin peer;
    FakeAllocator downstream;
    peer.offeredAllocator = c.offer ? &downstream : nullptr;
    downstream.shortBy = c.shortBy;
    downstream.setPropertiesResult = c.setProperties;
    peer.notifyFailures = c.notifyFailures;
    pin_->ownAllocators = 0;

    ASSERT_EQ(S_OK, pin_->Connect(&peer, &rgb32_));
    EXPECT_EQ(1, pin_->ownAllocators);
    ASSERT_NE(nullptr, pin_->SampleAllocator());
    EXPECT_NE(static_cast<IMemAllocator*>(&downstream), pin_->SampleAllocator());
    EXPECT_EQ(1, downstream.count.refs) << "the refused allocator is released";
    ASSERT_FALSE(peer.notified.empty());
    EXPECT_EQ(pin_->SampleAllocator(), peer.notified.back().allocator);
    EXPECT_FALSE(peer.notified.back().readOnly);
    const ALLOCATOR_PROPERTIES granted = Granted();
    EXPECT_GE(granted.cBuffers, 1);
    EXPECT_GE(granted.cbBuffer, kFrameBytes);

    EXPECT_EQ(S_OK, pin_->Disconnect());
    EXPECT_EQ(1, peer.count.refs);
  }
}

TEST_F(OutputPinTest, RequestTakesAlignmentAndPrefixFromTheRequirements) {
  struct Case {
    HRESULT result;
    ALLOCATOR_PROPERTIES requirements;
    LONG align, prefix;
  };
  const Case cases[] = {
      {S_OK, {0, 0, 0, 16}, 1, 16},
      {S_OK, {0, 0, 8, 0}, 8, 0},
      {E_NOTIMPL, {0, 0, 8, 8}, 1, 0},
  };
  for (const Case& c : cases) {
    peer_.requirementsResult = c.result;
    peer_.requirements = c.requirements;
    peer_.offeredAllocator = &downstream_;
    downstream_.requests.clear();
    ASSERT_EQ(S_OK, Connect());
    ASSERT_EQ(1u, downstream_.requests.size());
    EXPECT_EQ(c.align, downstream_.requests[0].cbAlign);
    EXPECT_EQ(c.prefix, downstream_.requests[0].cbPrefix);
    EXPECT_EQ(S_OK, pin_->Disconnect());
  }
}

TEST_F(OutputPinTest, NotificationRefusedForBothAllocatorsFailsTheConnection) {
  peer_.offeredAllocator = &downstream_;
  peer_.notifyFailures = 2;
  EXPECT_EQ(VFW_E_BADALIGN, Connect());
  EXPECT_EQ(1, pin_->ownAllocators);
  EXPECT_FALSE(pin_->IsConnected());
  EXPECT_EQ(nullptr, pin_->SampleAllocator());
  EXPECT_EQ(nullptr, pin_->PeerInputPin());
  EXPECT_EQ(1, peer_.disconnects) << "the peer had accepted the type and is told to let go";
}

TEST_F(OutputPinTest, RefusesAPeerItCannotFeed) {
  MediaType type;
  DesktopMediaTypeAt(kTestFrame, 0, &type);

  peer_.direction = PINDIR_OUTPUT;
  EXPECT_EQ(VFW_E_INVALID_DIRECTION, Connect());
  EXPECT_EQ(VFW_E_INVALID_DIRECTION, pin_->ReceiveConnection(&peer_, &type));

  // A peer that cannot say its direction is refused with its own failure.
  peer_.direction = PINDIR_INPUT;
  peer_.queryDirectionResult = E_UNEXPECTED;
  EXPECT_EQ(E_UNEXPECTED, Connect());

  peer_.queryDirectionResult = S_OK;
  peer_.exposeMemInput = false;
  EXPECT_EQ(E_NOINTERFACE, Connect());

  EXPECT_FALSE(pin_->IsConnected());
  EXPECT_EQ(nullptr, pin_->PeerInputPin());
  EXPECT_TRUE(peer_.offered.empty()) << "no type was offered to a refused peer";
}

TEST_F(OutputPinTest, UnconnectedPinHasNothingToStreamWith) {
  EXPECT_EQ(VFW_E_NOT_CONNECTED, pin_->DeliverSample(nullptr));
  EXPECT_EQ(VFW_E_NOT_CONNECTED, pin_->SendEndOfStream());
  IMediaSample* sample = nullptr;
  EXPECT_EQ(E_NOINTERFACE, pin_->AcquireSample(&sample, nullptr, nullptr, 0));
  EXPECT_EQ(VFW_E_NO_ALLOCATOR, pin_->CBaseOutputPin::Activate());
  EXPECT_EQ(VFW_E_NO_ALLOCATOR, pin_->CBaseOutputPin::Deactivate());
  // An output pin takes no stream control from anyone.
  EXPECT_EQ(E_UNEXPECTED, pin_->EndOfStream());
}

TEST_F(OutputPinTest, FilterStateCommitsAndDecommitsTheAllocator) {
  peer_.offeredAllocator = &downstream_;
  ASSERT_EQ(S_OK, Connect());
  EXPECT_EQ(S_OK, filter_->Pause());
  EXPECT_EQ(1, downstream_.commits);
  EXPECT_EQ(S_OK, filter_->Run(0));
  EXPECT_EQ(1, downstream_.commits);
  EXPECT_EQ(S_OK, filter_->Stop());
  EXPECT_EQ(1, downstream_.decommits);

  // A commit that fails keeps the filter stopped.
  downstream_.commitResult = E_OUTOFMEMORY;
  EXPECT_EQ(E_OUTOFMEMORY, filter_->Pause());
  FILTER_STATE state;
  filter_->GetState(0, &state);
  EXPECT_EQ(State_Stopped, state);

  // Times and flags reach GetBuffer as they are.
  REFERENCE_TIME start = 1, stop = 2;
  IMediaSample* sample = nullptr;
  pin_->AcquireSample(&sample, &start, &stop, AM_GBF_NOWAIT);
  EXPECT_EQ(&start, downstream_.lastStart);
  EXPECT_EQ(&stop, downstream_.lastStop);
  EXPECT_EQ(static_cast<DWORD>(AM_GBF_NOWAIT), downstream_.lastFlags);
}

TEST_F(OutputPinTest, SamplesComeFromTheCommittedAllocatorAndReachTheReceiver) {
  // No downstream allocator: the pin's own memory allocator is used.
  ASSERT_EQ(S_OK, Connect());
  IMediaSample* sample = nullptr;
  EXPECT_EQ(VFW_E_NOT_COMMITTED, pin_->AcquireSample(&sample, nullptr, nullptr, 0));
  ASSERT_EQ(S_OK, filter_->Pause());
  ASSERT_EQ(S_OK, pin_->AcquireSample(&sample, nullptr, nullptr, 0));
  ASSERT_NE(nullptr, sample);
  EXPECT_GE(sample->GetSize(), kFrameBytes);

  EXPECT_EQ(S_OK, pin_->DeliverSample(sample));
  peer_.receiveResult = S_FALSE;
  EXPECT_EQ(S_FALSE, pin_->DeliverSample(sample));
  peer_.receiveResult = E_FAIL;
  EXPECT_EQ(E_FAIL, pin_->DeliverSample(sample));
  EXPECT_EQ(3u, peer_.received.size());
  EXPECT_EQ(sample, peer_.received[0]);
  sample->Release();

  EXPECT_EQ(S_OK, filter_->Stop());
  EXPECT_EQ(VFW_E_NOT_COMMITTED, pin_->AcquireSample(&sample, nullptr, nullptr, 0));
}

TEST_F(OutputPinTest, DecommitFailureKeepsTheConnection) {
  peer_.offeredAllocator = &downstream_;
  ASSERT_EQ(S_OK, Connect());
  downstream_.decommitResult = E_FAIL;
  EXPECT_EQ(E_FAIL, pin_->Disconnect());
  EXPECT_TRUE(pin_->IsConnected());
  EXPECT_EQ(&downstream_, pin_->SampleAllocator());
  EXPECT_NE(nullptr, pin_->PeerInputPin());
  downstream_.decommitResult = S_OK;
  EXPECT_EQ(S_OK, pin_->Disconnect());
}

}  // namespace
