#include <gtest/gtest.h>

#include <dshow.h>

#include <string>
#include <vector>

#include "tests/framework/com_test.h"
#include "tests/framework/peer_doubles.h"
#include "tests/framework/test_source.h"

namespace {

using Log = std::vector<std::wstring>;


// A test source with three pins, each of which can be connected to its own double.
class FilterTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    filter_ = TestSource::Create(kTestFrame, 3, &log_);
    source_ = TestSource::From(filter_.get());
    DesktopMediaTypeAt(kTestFrame, 0, &type_);
  }
  void TearDown() override {
    filter_->Stop();
    for (int i = 0; i < 3; ++i) source_->Pin(i)->Disconnect();
    filter_.reset();
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(1, peers_[i].count.refs);
      EXPECT_EQ(1, allocators_[i].count.refs);
    }
    ComTest::TearDown();
  }
  void ConnectPin(int i) {
    peers_[i].offeredAllocator = &allocators_[i];
    ASSERT_EQ(S_OK, source_->Pin(i)->Connect(&peers_[i], &type_));
  }
  FILTER_STATE State() {
    FILTER_STATE state;
    EXPECT_EQ(S_OK, filter_->GetState(INFINITE, &state));
    return state;
  }
  Log TakeLog() { return std::exchange(log_, Log()); }

  Log log_;
  ComPtr<IBaseFilter> filter_;
  TestSource* source_ = nullptr;
  MediaType type_;
  FakeInputPin peers_[3];
  FakeAllocator allocators_[3];
};

TEST_F(FilterTest, StateChangesReachOnlyConnectedPins) {
  ConnectPin(0);
  ConnectPin(2);
  EXPECT_EQ(S_OK, filter_->Stop());
  EXPECT_EQ(Log(), TakeLog()) << "stopping a stopped filter calls no pin";

  EXPECT_EQ(S_OK, filter_->Pause());
  EXPECT_EQ((Log{L"Out activate", L"Out3 activate"}), TakeLog());
  EXPECT_EQ(State_Paused, State());
  EXPECT_EQ(S_OK, filter_->Pause());
  EXPECT_EQ(Log(), TakeLog());

  EXPECT_EQ(S_OK, filter_->Run(5));
  EXPECT_EQ((Log{L"Out run", L"Out3 run"}), TakeLog());
  EXPECT_EQ(State_Running, State());
  EXPECT_EQ(5, source_->StreamStart());
  EXPECT_EQ(S_OK, filter_->Run(7));
  EXPECT_EQ(Log(), TakeLog());
  EXPECT_EQ(7, source_->StreamStart());

  EXPECT_EQ(S_OK, filter_->Pause());
  EXPECT_EQ(Log(), TakeLog()) << "running to paused calls no pin";
  EXPECT_EQ(State_Paused, State());

  EXPECT_EQ(S_OK, filter_->Stop());
  EXPECT_EQ((Log{L"Out deactivate", L"Out3 deactivate"}), TakeLog());
  EXPECT_EQ(State_Stopped, State());

  EXPECT_EQ(S_OK, filter_->Run(0));
  EXPECT_EQ((Log{L"Out activate", L"Out3 activate", L"Out run", L"Out3 run"}), TakeLog());
  EXPECT_EQ(State_Running, State());
}

TEST_F(FilterTest, StopVisitsEveryPinAndReportsTheFirstFailure) {
  for (int i = 0; i < 3; ++i) ConnectPin(i);
  ASSERT_EQ(S_OK, filter_->Pause());
  TakeLog();
  source_->Pin(0)->deactivateResult = E_FAIL;
  source_->Pin(1)->deactivateResult = E_UNEXPECTED;
  EXPECT_EQ(E_FAIL, filter_->Stop());
  EXPECT_EQ((Log{L"Out deactivate", L"Out2 deactivate", L"Out3 deactivate"}), TakeLog());
  EXPECT_EQ(State_Stopped, State());
  EXPECT_EQ(1, allocators_[2].decommits);
}

TEST_F(FilterTest, PauseStopsAtTheFirstFailure) {
  for (int i = 0; i < 3; ++i) ConnectPin(i);
  source_->Pin(1)->activateResult = E_OUTOFMEMORY;
  EXPECT_EQ(E_OUTOFMEMORY, filter_->Pause());
  EXPECT_EQ((Log{L"Out activate", L"Out2 activate"}), TakeLog());
  EXPECT_EQ(State_Stopped, State());
  EXPECT_TRUE(allocators_[0].committed) << "pins activated before the failure stay active";
  EXPECT_EQ(0, allocators_[2].commits);

  // S_FALSE from a pin is not a failure.
  source_->Pin(1)->activateResult = S_FALSE;
  EXPECT_EQ(S_OK, filter_->Pause());
  EXPECT_EQ(State_Paused, State());
}

TEST_F(FilterTest, RunFailureLeavesTheStateAlone) {
  ConnectPin(0);
  ConnectPin(1);
  ASSERT_EQ(S_OK, filter_->Pause());
  TakeLog();
  source_->Pin(0)->runResult = E_FAIL;
  EXPECT_EQ(E_FAIL, filter_->Run(3));
  EXPECT_EQ((Log{L"Out run"}), TakeLog());
  EXPECT_EQ(State_Paused, State());
  EXPECT_EQ(3, source_->StreamStart()) << "the start time is stored before anything can fail";
}

TEST_F(FilterTest, FindPinReadsTheIdAsADecimalNumber) {
  const ULONG refs = source_->References();
  struct Case {
    const wchar_t* id;
    int pin;  // -1: not found
  };
  const Case cases[] = {{L"1", 0}, {L"2", 1}, {L"3", 2},  {L" 1", 0}, {L"1x", 0},          {L"+2", 1},
                        {L"0", -1}, {L"x", -1}, {L"", -1}, {L"4", -1}, {L"-1", -1}, {L"99999999999", -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "id \"" << c.id << "\"");
    IPin* pin = reinterpret_cast<IPin*>(1);
    const HRESULT hr = filter_->FindPin(c.id, &pin);
    if (c.pin < 0) {
      EXPECT_EQ(VFW_E_NOT_FOUND, hr);
      EXPECT_EQ(nullptr, pin);
      continue;
    }
    ASSERT_EQ(S_OK, hr);
    EXPECT_EQ(static_cast<IPin*>(source_->Pin(c.pin)), pin);
    EXPECT_EQ(refs + 1, source_->References());
    pin->Release();
  }
  // Ids handed out by the pins find the same pins again.
  LPWSTR id = nullptr;
  ASSERT_EQ(S_OK, source_->Pin(2)->QueryId(&id));
  IPin* pin = nullptr;
  EXPECT_EQ(S_OK, filter_->FindPin(id, &pin));
  EXPECT_EQ(static_cast<IPin*>(source_->Pin(2)), pin);
  pin->Release();
  CoTaskMemFree(id);

  EXPECT_EQ(E_POINTER, filter_->FindPin(L"1", nullptr));
  pin = reinterpret_cast<IPin*>(1);
  EXPECT_EQ(E_POINTER, filter_->FindPin(nullptr, &pin));
  EXPECT_EQ(nullptr, pin);
  EXPECT_EQ(refs, source_->References());
}

TEST_F(FilterTest, NameIsKeptUpTo127CharactersInTheInfo) {
  const std::wstring name(200, L'n');
  ASSERT_EQ(S_OK, filter_->JoinFilterGraph(nullptr, name.c_str()));
  FILTER_INFO info;
  ASSERT_EQ(S_OK, filter_->QueryFilterInfo(&info));
  EXPECT_EQ(name.substr(0, 127), info.achName);
  EXPECT_EQ(nullptr, info.pGraph);

  ASSERT_EQ(S_OK, filter_->JoinFilterGraph(nullptr, nullptr));
  ASSERT_EQ(S_OK, filter_->QueryFilterInfo(&info));
  EXPECT_STREQ(L"", info.achName);
  EXPECT_EQ(nullptr, source_->Graph());
  EXPECT_EQ(E_NOTIMPL, source_->NotifyGraph(EC_COMPLETE, 0, 0)) << "no graph, no event sink";
  EXPECT_EQ(E_POINTER, filter_->QueryFilterInfo(nullptr));
}

TEST_F(FilterTest, ClockReferenceIsTakenBeforeTheOldOneIsDropped) {
  FakeClock clock;
  ASSERT_EQ(S_OK, filter_->SetSyncSource(&clock));
  clock.Release();  // the filter's is now the only reference
  ASSERT_EQ(S_OK, filter_->SetSyncSource(&clock));
  EXPECT_FALSE(clock.died);
  EXPECT_EQ(1, clock.count.refs);

  IReferenceClock* got = nullptr;
  ASSERT_EQ(S_OK, filter_->GetSyncSource(&got));
  EXPECT_EQ(&clock, got);
  EXPECT_EQ(2, clock.count.refs);
  got->Release();

  // Stream time is the clock's time minus the start given to Run.
  ASSERT_EQ(S_OK, filter_->Run(400));
  clock.now = 1000;
  REFERENCE_TIME time = 0;
  EXPECT_EQ(S_OK, source_->CurrentStreamTime(&time));
  EXPECT_EQ(600, time);
  clock.timeResult = E_FAIL;
  EXPECT_EQ(E_FAIL, source_->CurrentStreamTime(&time));

  ASSERT_EQ(S_OK, filter_->SetSyncSource(nullptr));
  EXPECT_TRUE(clock.died);
  EXPECT_EQ(VFW_E_NO_CLOCK, source_->CurrentStreamTime(&time));
  ASSERT_EQ(S_OK, filter_->GetSyncSource(&got));
  EXPECT_EQ(nullptr, got);
}

TEST_F(FilterTest, ExposesTheFilterInterfacesOnly) {
  const ULONG refs = source_->References();
  ComPtr<IMediaFilter> media;
  ComPtr<IPersist> persist;
  ComPtr<IAMovieSetup> setup;
  ComPtr<IPin> notPin;
  ASSERT_EQ(S_OK, filter_.query(&media));
  ASSERT_EQ(S_OK, filter_.query(&persist));
  ASSERT_EQ(S_OK, filter_.query(&setup));
  EXPECT_EQ(static_cast<IMediaFilter*>(filter_.get()), media.get());
  EXPECT_EQ(static_cast<IPersist*>(filter_.get()), persist.get());
  EXPECT_EQ(E_NOINTERFACE, filter_.query(&notPin));
  EXPECT_EQ(refs + 3, source_->References());

  // No registration data: both answers are S_FALSE, in any order, as often as asked.
  EXPECT_EQ(S_FALSE, setup->Unregister());
  EXPECT_EQ(S_FALSE, setup->Register());
  EXPECT_EQ(S_FALSE, setup->Register());

  CLSID id;
  ASSERT_EQ(S_OK, persist->GetClassID(&id));
  EXPECT_TRUE(IsEqualCLSID(CLSID_TestSource, id));
}

TEST_F(FilterTest, PinArrayKeepsOrderAndDeletesTheLastPinFirst) {
  Log log;
  ComPtr<IBaseFilter> other = TestSource::Create(kTestFrame, 3, &log);
  TestSource* source = TestSource::From(other.get());
  TestPin* middle = source->Pin(1);
  EXPECT_EQ(1, source->PinIndexOf(middle));

  // A pin of another filter is not in this array.
  EXPECT_EQ(S_FALSE, source->DetachPin(source_->Pin(0)));
  EXPECT_EQ(-1, source->PinIndexOf(source_->Pin(0)));
  EXPECT_EQ(3, source->PinCount());

  EXPECT_EQ(S_OK, source->DetachPin(middle));
  EXPECT_EQ(2, source->PinCount());
  EXPECT_EQ(L"Out3", std::wstring(static_cast<TestPin*>(source->PinAt(1))->Name()));
  EXPECT_EQ(nullptr, source->PinAt(2));
  EXPECT_EQ(nullptr, source->PinAt(-1));
  delete middle;
  log.clear();

  other.reset();
  EXPECT_EQ((Log{L"Out3 destroyed", L"Out destroyed"}), log);
}

}  // namespace
