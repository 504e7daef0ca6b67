#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>
#include <objbase.h>

#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "format/desktop_formats.h"
#include "framework/source_filter.h"
#include "framework/source_stream.h"
#include "tests/framework/com_test.h"
#include "tests/framework/peer_doubles.h"
#include "tests/support/test_graph.h"
#include "tests/support/live_objects.h"
#include "tests/support/stream_peer.h"

namespace {

// {6C2B8F4E-1D3A-4B7C-9E5F-0A8D2C4B6E13}
const CLSID kScriptedSourceClsid = {0x6c2b8f4e, 0x1d3a, 0x4b7c, {0x9e, 0x5f, 0x0a, 0x8d, 0x2c, 0x4b, 0x6e, 0x13}};
constexpr FrameSize kFrame = {64, 48};
constexpr HRESULT kFillError = static_cast<HRESULT>(0x80041234);

// A source pin whose fills follow a script. A filled sample carries its fill index as its
// first byte and as its time (index, index + 1).
class ScriptedPin : public CSourceStream {
 public:
  ScriptedPin(MostDerived key, HRESULT* result, CSource* filter) : CSourceStream(key, result, filter, L"Out") {}
  ~ScriptedPin() override {
    // The worker uses what this pin holds: it must be gone before any of it is.
    if (workerAtDestruction) *workerAtDestruction = WorkerExists();
    ::CloseHandle(holding_);
    ::CloseHandle(release_);
  }

  // The answers of the first fills, in order; every later fill answers then.
  void Script(std::vector<HRESULT> results, HRESULT then = S_OK) {
    script_ = std::move(results);
    then_ = then;
  }
  // The fill with this index waits inside FillSample until ReleaseFill.
  void HoldFill(LONG index) { holdIndex_ = index; }
  bool WaitUntilHolding() { return ::WaitForSingleObject(holding_, 10000) == WAIT_OBJECT_0; }
  void ReleaseFill() { ::SetEvent(release_); }

  HRESULT FillSample(IMediaSample* sample) override {
    const LONG index = ::InterlockedIncrement(&fills_) - 1;
    if (index == holdIndex_) {
      ::SetEvent(holding_);
      ::WaitForSingleObject(release_, 10000);
    }
    const HRESULT result = index < static_cast<LONG>(script_.size()) ? script_[index] : then_;
    if (result == S_OK) {
      BYTE* data = nullptr;
      sample->GetPointer(&data);
      if (data) data[0] = static_cast<BYTE>(index);
      REFERENCE_TIME start = index;
      REFERENCE_TIME end = index + 1;
      sample->SetTime(&start, &end);
    }
    ::Sleep(1);  // keeps a spinning worker gentle on the machine
    return result;
  }
  HRESULT SoleMediaType(MediaType* type) override { return DesktopMediaTypeAt(kFrame, 0, type); }
  HRESULT SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    SectionLockHolder hold(Lock());
    return SizeDesktopBuffers(ConnectionType(), allocator, request);
  }
  HRESULT OnWorkerStart() override {
    ::InterlockedIncrement(&starts);
    // S_FALSE: this thread is in the multithreaded apartment already.
    comProbe = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(comProbe)) ::CoUninitialize();
    return startResult;
  }
  HRESULT OnWorkerStop() override {
    ::InterlockedIncrement(&stops);
    return S_OK;
  }
  HRESULT OnStreamStart() override {
    ::InterlockedIncrement(&streamStarts);
    return S_OK;
  }

  LONG Fills() const { return fills_; }
  bool WaitForFills(LONG count, DWORD timeoutMs = 10000) const {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (fills_ < count) {
      if (::GetTickCount64() > deadline) return false;
      ::Sleep(2);
    }
    return true;
  }

  HRESULT startResult = S_OK;
  HRESULT comProbe = E_UNEXPECTED;
  // Set by the destructor: whether a worker still existed when it began.
  bool* workerAtDestruction = nullptr;
  volatile LONG starts = 0;
  volatile LONG stops = 0;
  volatile LONG streamStarts = 0;

 private:
  std::vector<HRESULT> script_;
  HRESULT then_ = S_OK;
  LONG holdIndex_ = -1;
  HANDLE holding_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  volatile LONG fills_ = 0;
};

// A source filter with one scripted pin; the filter deletes the pin (CSource).
class ScriptedSource : public CSource {
 public:
  ScriptedSource() : CSource(nullptr, kScriptedSourceClsid) {
    pin = new (std::nothrow) StreamingPin<ScriptedPin>(&pinResult, this);
  }

  static ComPtr<IBaseFilter> Create(ScriptedSource** source) {
    auto* made = new ScriptedSource;
    if (source) *source = made;
    ComPtr<IBaseFilter> filter;
    made->InnerQueryInterface(IID_IBaseFilter, filter.put_void());
    return filter;
  }

  ScriptedPin* pin = nullptr;
  HRESULT pinResult = E_UNEXPECTED;
};

// A scripted source with a StreamPeer for its downstream pin. The peer outlives the filter.
class Rig {
 public:
  Rig() : peer(new StreamPeer), filter(ScriptedSource::Create(&source)), pin(source->pin) {}
  ~Rig() {
    filter->Stop();
    pin->Disconnect();
    filter.reset();
    EXPECT_EQ(1, peer->References()) << "the pin gave back every reference to its peer";
  }
  HRESULT Connect() { return pin->Connect(peer.get(), nullptr); }

  std::unique_ptr<StreamPeer> peer;
  ScriptedSource* source = nullptr;
  ComPtr<IBaseFilter> filter;
  ScriptedPin* pin;
};

DWORD WINAPI StopFilter(void* filter) { return static_cast<DWORD>(static_cast<IBaseFilter*>(filter)->Stop()); }

// Runs IBaseFilter::Stop on a thread of its own; the thread's exit code is Stop's result.
HANDLE StopOnThread(IBaseFilter* filter) { return ::CreateThread(nullptr, 0, StopFilter, filter, 0, nullptr); }

DWORD WINAPI ReleaseFilter(void* filter) { return static_cast<IBaseFilter*>(filter)->Release(); }

// Drops filter's reference (the last) on a thread of its own; false when that has not
// returned within boundMs. The thread is then left where it waits.
bool ReleasedWithin(ComPtr<IBaseFilter>& filter, DWORD boundMs) {
  const ThreadHandle thread(::CreateThread(nullptr, 0, ReleaseFilter, filter.detach(), 0, nullptr));
  return thread && ::WaitForSingleObject(thread.get(), boundMs) == WAIT_OBJECT_0;
}

// ---- without a worker

using SourceStreamTest = ComTest;

TEST_F(SourceStreamTest, DefaultsOfferTheSoleTypeAndIdTheirPosition) {
  ScriptedSource* source = nullptr;
  ComPtr<IBaseFilter> filter = ScriptedSource::Create(&source);
  ScriptedPin* pin = source->pin;
  ASSERT_EQ(S_OK, source->pinResult);

  LPWSTR id = nullptr;
  ASSERT_EQ(S_OK, pin->QueryId(&id));
  EXPECT_STREQ(L"1", id);
  CoTaskMemFree(id);
  EXPECT_EQ(E_POINTER, pin->QueryId(nullptr));
  ASSERT_EQ(S_OK, source->DetachPin(pin));
  id = reinterpret_cast<LPWSTR>(1);
  EXPECT_EQ(VFW_E_NOT_FOUND, pin->QueryId(&id));
  EXPECT_EQ(nullptr, id);
  ASSERT_EQ(S_OK, source->AttachPin(pin));

  MediaType sole;
  EXPECT_EQ(E_INVALIDARG, pin->MediaTypeAt(-1, &sole));
  EXPECT_EQ(VFW_S_NO_MORE_ITEMS, pin->MediaTypeAt(1, &sole));
  ASSERT_EQ(S_OK, pin->MediaTypeAt(0, &sole));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB32, sole.subtype));
  EXPECT_EQ(S_OK, pin->VerifyMediaType(&sole));
  MediaType other;
  ASSERT_EQ(S_OK, DesktopMediaTypeAt(kFrame, 1, &other));
  EXPECT_EQ(E_FAIL, pin->VerifyMediaType(&other));
}

TEST_F(SourceStreamTest, ActivateOnAnUnconnectedPinStartsNoWorker) {
  ScriptedSource* source = nullptr;
  ComPtr<IBaseFilter> filter = ScriptedSource::Create(&source);
  ScriptedPin* pin = source->pin;
  EXPECT_EQ(S_OK, pin->Activate());
  EXPECT_FALSE(pin->WorkerExists());
  EXPECT_EQ(S_OK, filter->Pause());
  EXPECT_FALSE(pin->WorkerExists());
  EXPECT_EQ(S_FALSE, pin->Activate()) << "the filter is active already";
  EXPECT_EQ(S_OK, filter->Run(0));
  EXPECT_EQ(S_OK, filter->Stop());
  EXPECT_EQ(S_OK, pin->Deactivate());
  EXPECT_EQ(0, pin->starts);
}

// Event creation that fails on the n-th call (counted from 1).
int eventCalls = 0;
int failingEventCall = 0;
HANDLE FailingCreateEvent(bool manualReset) {
  if (++eventCalls == failingEventCall) return nullptr;
  return ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr);
}

class ThreadShell : public CAMThread {
 public:
  using CAMThread::CAMThread;
  DWORD WorkerMain() override { return 0; }
};

TEST_F(SourceStreamTest, ChannelEventsThatCannotBeMadeFailTheConstruction) {
  const CreateEventFn original = CreateWorkerEvent;
  CreateWorkerEvent = FailingCreateEvent;
  for (int failing : {1, 2}) {
    SCOPED_TRACE(failing == 1 ? "request event" : "reply event");
    eventCalls = 0;
    failingEventCall = failing;
    ScriptedSource* source = nullptr;
    ComPtr<IBaseFilter> filter = ScriptedSource::Create(&source);
    EXPECT_EQ(E_OUTOFMEMORY, source->pinResult);
    EXPECT_FALSE(source->pin->StartWorker()) << "no worker without its channel";
    EXPECT_FALSE(source->pin->WorkerExists());
    EXPECT_EQ(static_cast<DWORD>(E_FAIL), source->pin->SendRequest(CmdInit));

    eventCalls = 0;
    HRESULT result = S_OK;
    ThreadShell shell(&result);
    EXPECT_EQ(E_OUTOFMEMORY, result);
    eventCalls = 0;
    result = E_ABORT;
    ThreadShell keeps(&result);
    EXPECT_EQ(E_ABORT, result) << "an earlier failure is kept";
  }
  CreateWorkerEvent = original;
}

// A thread body that only looks at its COM apartment.
class ApartmentProbe : public CAMThread {
 public:
  DWORD WorkerMain() override {
    probe = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(probe)) ::CoUninitialize();
    return 7;
  }
  HRESULT probe = E_UNEXPECTED;
};

// WorkerEntry run on the test's own thread, whose apartment the test controls.
TEST(WorkerEntryTest, BalancesTheApartmentItJoinedAndLeavesOneItCouldNotJoin) {
  ApartmentProbe probe;
  ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  EXPECT_EQ(7u, CAMThread::WorkerEntry(&probe));
  EXPECT_EQ(S_FALSE, probe.probe) << "the body ran inside the multithreaded apartment";
  ::CoUninitialize();
  // Had WorkerEntry not balanced its S_FALSE, the thread would still be initialised.
  EXPECT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  ::CoUninitialize();

  ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  EXPECT_EQ(7u, CAMThread::WorkerEntry(&probe));
  EXPECT_EQ(RPC_E_CHANGED_MODE, probe.probe);
  // A refused initialisation is not undone: the thread is still in its own apartment.
  EXPECT_EQ(S_FALSE, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  ::CoUninitialize();
  ::CoUninitialize();
}

// ---- with a worker

using SourceStreamThreadedTest = ComTest;

TEST_F(SourceStreamThreadedTest, AFreshWorkerAnswersOnlyCmdInitUntilInitialised) {
  ScriptedSource* source = nullptr;
  ComPtr<IBaseFilter> filter = ScriptedSource::Create(&source);
  ScriptedPin* pin = source->pin;
  EXPECT_EQ(static_cast<DWORD>(E_FAIL), pin->SendRequest(CmdInit)) << "no worker yet";
  ASSERT_TRUE(pin->StartWorker());
  EXPECT_FALSE(pin->StartWorker()) << "never a second worker";

  for (DWORD request : {static_cast<DWORD>(CmdPause), static_cast<DWORD>(CmdStop), static_cast<DWORD>(CmdExit), 9ul}) {
    EXPECT_EQ(static_cast<DWORD>(E_UNEXPECTED), pin->SendRequest(request)) << request;
  }
  EXPECT_EQ(0, pin->starts);
  EXPECT_EQ(S_OK, static_cast<HRESULT>(pin->SendRequest(CmdInit)));
  EXPECT_EQ(1, pin->starts);
  EXPECT_EQ(S_FALSE, pin->comProbe) << "the worker joined the multithreaded apartment";
  EXPECT_EQ(static_cast<DWORD>(E_NOTIMPL), pin->SendRequest(CmdInit)) << "initialised once only";
  EXPECT_EQ(static_cast<DWORD>(E_NOTIMPL), pin->SendRequest(9));
  EXPECT_EQ(S_OK, static_cast<HRESULT>(pin->SendRequest(CmdStop)));
  EXPECT_EQ(S_OK, static_cast<HRESULT>(pin->SendRequest(CmdExit)));
  pin->JoinWorker();
  EXPECT_EQ(1, pin->stops);
  EXPECT_FALSE(pin->WorkerExists());
  EXPECT_EQ(static_cast<DWORD>(E_FAIL), pin->SendRequest(CmdInit));
}

TEST_F(SourceStreamThreadedTest, RequestsWhileStreamingAreAnsweredAndStreamingGoesOn) {
  Rig rig;
  ASSERT_EQ(S_OK, rig.Connect());
  ASSERT_EQ(S_OK, rig.filter->Pause());
  ASSERT_TRUE(rig.peer->WaitForReceived(3));

  EXPECT_EQ(S_OK, static_cast<HRESULT>(rig.pin->SendRequest(CmdPause))) << "a second CmdPause";
  EXPECT_EQ(S_OK, static_cast<HRESULT>(rig.pin->SendRequest(CmdRun)));
  for (DWORD request : {static_cast<DWORD>(CmdInit), static_cast<DWORD>(CmdExit), 42ul}) {
    EXPECT_EQ(static_cast<DWORD>(E_UNEXPECTED), rig.pin->SendRequest(request)) << request;
  }
  const size_t received = rig.peer->ReceivedCount();
  EXPECT_TRUE(rig.peer->WaitForReceived(received + 3)) << "streaming went on";
  EXPECT_EQ(1, rig.pin->streamStarts) << "in the same buffer loop";

  EXPECT_EQ(S_OK, rig.filter->Stop());
  EXPECT_FALSE(rig.pin->WorkerExists());
  EXPECT_EQ(1, rig.pin->stops);
  const LONG fills = rig.pin->Fills();
  ::Sleep(20);
  EXPECT_EQ(fills, rig.pin->Fills());
  EXPECT_EQ(0, rig.peer->EndOfStreams()) << "a stop is no end of stream";

  // Samples arrive in order, each the one its fill made.
  const auto samples = rig.peer->Received();
  for (size_t i = 0; i < samples.size(); ++i) {
    ASSERT_TRUE(samples[i].hasTime);
    EXPECT_EQ(static_cast<REFERENCE_TIME>(i), samples[i].start);
    EXPECT_EQ(static_cast<BYTE>(i), samples[i].firstByte);
  }
}

TEST_F(SourceStreamThreadedTest, StopWhileAFillIsUnderwayIsAnsweredAfterItsDelivery) {
  Rig rig;
  ASSERT_EQ(S_OK, rig.Connect());
  rig.pin->HoldFill(2);
  ASSERT_EQ(S_OK, rig.filter->Pause());
  ASSERT_TRUE(rig.pin->WaitUntilHolding());

  HANDLE stopper = StopOnThread(rig.filter.get());
  ASSERT_NE(nullptr, stopper);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(stopper, 100)) << "Stop waits for the worker";
  rig.pin->ReleaseFill();
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(stopper, 10000));
  DWORD stopResult = 1;
  ::GetExitCodeThread(stopper, &stopResult);
  ::CloseHandle(stopper);
  EXPECT_EQ(static_cast<DWORD>(S_OK), stopResult);
  EXPECT_EQ(3, rig.pin->Fills());
  EXPECT_EQ(3u, rig.peer->ReceivedCount()) << "the sample being filled was delivered before the stop";
  EXPECT_FALSE(rig.pin->WorkerExists());
}

TEST_F(SourceStreamThreadedTest, EndOfStreamOnceForSFalseAndForEveryOtherCode) {
  for (HRESULT last : {S_FALSE, kFillError, static_cast<HRESULT>(2)}) {
    SCOPED_TRACE(testing::Message() << "fill result 0x" << std::hex << last);
    Rig rig;
    ASSERT_EQ(S_OK, rig.Connect());
    rig.pin->Script({S_OK, S_OK, last});
    ASSERT_EQ(S_OK, rig.filter->Pause());
    ASSERT_TRUE(rig.peer->WaitForEndOfStream());
    ::Sleep(30);
    EXPECT_EQ(1, rig.peer->EndOfStreams());
    EXPECT_EQ(3, rig.pin->Fills()) << "the worker went idle";
    EXPECT_EQ(2u, rig.peer->ReceivedCount());
    EXPECT_TRUE(rig.pin->WorkerExists());
    EXPECT_EQ(S_OK, rig.filter->Stop()) << "CmdStop and CmdExit answered by the idle worker";
    EXPECT_FALSE(rig.pin->WorkerExists());
    EXPECT_EQ(1, rig.pin->stops);
  }
}

TEST_F(SourceStreamThreadedTest, SamplesLeftUnfilledAreNotDeliveredAndStreamingGoesOn) {
  Rig rig;
  ASSERT_EQ(S_OK, rig.Connect());
  rig.pin->Script({S_OK}, S_SAMPLE_NOT_FILLED);
  ASSERT_EQ(S_OK, rig.filter->Pause());
  ASSERT_TRUE(rig.pin->WaitForFills(10));
  EXPECT_EQ(1u, rig.peer->ReceivedCount());
  EXPECT_EQ(0, rig.peer->EndOfStreams());
  EXPECT_EQ(S_OK, rig.filter->Stop());
}

TEST_F(SourceStreamThreadedTest, AFailedWorkerStartKeepsTheFilterStopped) {
  Rig rig;
  ASSERT_EQ(S_OK, rig.Connect());
  rig.pin->startResult = E_ABORT;
  EXPECT_EQ(E_ABORT, rig.filter->Pause());
  FILTER_STATE state = State_Running;
  EXPECT_EQ(S_OK, rig.filter->GetState(0, &state));
  EXPECT_EQ(State_Stopped, state);
  EXPECT_EQ(1, rig.pin->stops);
  EXPECT_EQ(E_FAIL, rig.filter->Pause()) << "the ended worker is not yet joined";
  EXPECT_EQ(0, rig.pin->Fills());
}

// A pin whose allocator refuses Decommit: Stop reports the refusal, and the stopped filter
// has no live worker behind it (the pin's destruction would otherwise meet one).
TEST_F(SourceStreamThreadedTest, ARefusedDecommitStillEndsTheWorker) {
  FakeAllocator allocator;  // hands out no samples: the worker keeps asking, every millisecond
  FakeInputPin peer;
  peer.offeredAllocator = &allocator;
  ScriptedSource* source = nullptr;
  ComPtr<IBaseFilter> filter = ScriptedSource::Create(&source);
  ScriptedPin* pin = source->pin;
  ASSERT_EQ(S_OK, pin->Connect(&peer, nullptr));
  ASSERT_EQ(S_OK, filter->Pause());
  ASSERT_TRUE(pin->WorkerExists());
  allocator.decommitResult = VFW_E_TIMEOUT;
  EXPECT_EQ(VFW_E_TIMEOUT, filter->Stop());
  EXPECT_FALSE(pin->WorkerExists()) << "a live worker behind a stopped filter";
  EXPECT_EQ(1, pin->stops);
  FILTER_STATE state = State_Running;
  EXPECT_EQ(S_OK, filter->GetState(0, &state));
  EXPECT_EQ(State_Stopped, state);
  allocator.decommitResult = S_OK;
  EXPECT_EQ(S_OK, pin->Disconnect());
  bool workerAtDestruction = true;
  pin->workerAtDestruction = &workerAtDestruction;
  EXPECT_TRUE(ReleasedWithin(filter, 10000)) << "the filter's release";
  EXPECT_FALSE(workerAtDestruction);
  EXPECT_EQ(1, allocator.count.refs);
  EXPECT_EQ(1, peer.count.refs);
}

// A pin whose worker streams while its filter says Stopped (as after a Pause that a later pin
// refused) is destroyed with the filter: its worker ends before any part of the pin goes.
TEST_F(SourceStreamThreadedTest, APinEndsItsWorkerBeforeItsMembersGo) {
  auto peer = std::make_unique<StreamPeer>();
  ScriptedSource* source = nullptr;
  ComPtr<IBaseFilter> filter = ScriptedSource::Create(&source);
  ScriptedPin* pin = source->pin;
  ASSERT_EQ(S_OK, pin->Connect(peer.get(), nullptr));
  ASSERT_EQ(S_OK, pin->Activate());
  ASSERT_TRUE(peer->WaitForReceived(3));
  bool workerAtDestruction = true;
  pin->workerAtDestruction = &workerAtDestruction;
  if (!ReleasedWithin(filter, 10000)) {
    static_cast<void>(peer.release());  // still used by the release that waits
    FAIL() << "the release of a filter whose pin streams did not return";
  }
  EXPECT_FALSE(workerAtDestruction) << "the pin's members went while its worker ran";
  EXPECT_EQ(1, peer->References());
}

// The scripted source in Wine's filter graph, into the Sample Grabber and the Null Renderer.
TEST_F(SourceStreamThreadedTest, AFillErrorReachesTheGraphsEventSink) {
  for (HRESULT error : {kFillError, static_cast<HRESULT>(2)}) {
    SCOPED_TRACE(testing::Message() << "fill result 0x" << std::hex << error);
    ScriptedSource* source = nullptr;
    TestGraph graph(ScriptedSource::Create(&source));
    source->pin->Script({S_OK, S_OK, S_OK, error});
    ASSERT_EQ(S_OK, graph.Connect(0));
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    LONG_PTR param = 0;
    ASSERT_TRUE(graph.WaitForEvent(EC_ERRORABORT, &param));
    EXPECT_EQ(error, static_cast<HRESULT>(param));
    EXPECT_TRUE(graph.WaitForEvent(EC_COMPLETE, nullptr)) << "the end of stream reached the renderer";
    EXPECT_EQ(S_OK, graph.Stop());
    const auto frames = graph.Frames();
    ASSERT_EQ(3u, frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(static_cast<REFERENCE_TIME>(i), frames[i].start);
      EXPECT_EQ(static_cast<BYTE>(i), frames[i].pixels.at(0));
    }
  }
}

TEST_F(SourceStreamThreadedTest, AnEndOfStreamCompletesTheGraphWithoutAnError) {
  ScriptedSource* source = nullptr;
  TestGraph graph(ScriptedSource::Create(&source));
  source->pin->Script({S_OK, S_OK, S_FALSE});
  ASSERT_EQ(S_OK, graph.Connect(0));
  ASSERT_TRUE(SUCCEEDED(graph.Run()));
  EXPECT_TRUE(graph.WaitForEvent(EC_COMPLETE, nullptr));
  EXPECT_EQ(S_OK, graph.Stop());
  for (const auto& event : graph.Events()) EXPECT_NE(EC_ERRORABORT, event.first);
  EXPECT_EQ(2u, graph.FrameCount());
}

}  // namespace
