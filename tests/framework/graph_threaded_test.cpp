#include <gtest/gtest.h>

#include <dshow.h>
#include <qedit.h>

#include "hostkit/pins.h"
#include "tests/framework/com_test.h"
#include "tests/framework/test_source.h"
#include "tests/support/test_graph.h"

using namespace dorvantel;

namespace {

// The test source in Wine's filter graph, connected to Wine's own filters.
class GraphThreadedTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     graph_.put_void()));
    filter_ = TestSource::Create(kTestFrame);
    source_ = TestSource::From(filter_.get());
    pin_ = source_->Pin(0);
    ASSERT_EQ(S_OK, graph_->AddFilter(filter_.get(), L"Test Source"));
  }
  void TearDown() override {
    graph_.reset();
    filter_.reset();
    ComTest::TearDown();
  }
  ComPtr<IBaseFilter> Add(const CLSID& clsid, const wchar_t* name) {
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.put_void()));
    if (filter) { EXPECT_EQ(S_OK, graph_->AddFilter(filter.get(), name)); }
    return filter;
  }
  static ComPtr<IPin> InputOf(IBaseFilter* filter) {
    ComPtr<IPin> pin;
    FindPin(filter, PINDIR_INPUT, &pin);
    return pin;
  }
  void Unplug(IPin* input) {
    EXPECT_EQ(S_OK, graph_->Disconnect(pin_));
    EXPECT_EQ(S_OK, graph_->Disconnect(input));
  }

  ComPtr<IGraphBuilder> graph_;
  ComPtr<IBaseFilter> filter_;
  TestSource* source_ = nullptr;
  TestPin* pin_ = nullptr;
};

ALLOCATOR_PROPERTIES Granted(IMemAllocator* allocator) {
  ALLOCATOR_PROPERTIES props = {};
  allocator->GetProperties(&props);
  return props;
}

TEST_F(GraphThreadedTest, EachFormatConnectsDirectlyToWinesInputPins) {
  // The AVI Mux offers its own allocator; the renderers and the grabber leave it to us.
  struct Peer {
    const CLSID* clsid;
    bool offersAllocator;
  };
  const Peer peers[] = {{&CLSID_NullRenderer, false}, {&CLSID_SampleGrabber, false}, {&CLSID_AviDest, true}};
  for (const Peer& p : peers) {
    for (int position = 0; position < kDesktopFormatCount; ++position) {
      SCOPED_TRACE(testing::Message() << "peer " << std::hex << p.clsid->Data1 << " format " << position);
      // A fresh peer each time: Wine's AVI Mux does not survive a second connection.
      ComPtr<IBaseFilter> peer = Add(*p.clsid, L"peer");
      ComPtr<IPin> input = InputOf(peer.get());
      MediaType offered;
      DesktopMediaTypeAt(kTestFrame, position, &offered);
      pin_->ownAllocators = 0;
      ASSERT_EQ(S_OK, graph_->ConnectDirect(pin_, input.get(), &offered));

      EXPECT_EQ(input.get(), pin_->Peer());
      AM_MEDIA_TYPE theirs = {};
      ASSERT_EQ(S_OK, input->ConnectionMediaType(&theirs));
      EXPECT_TRUE(MediaTypeEquals(offered, theirs));
      ReleaseMediaTypeFormat(&theirs);

      ComPtr<IMemInputPin> memInput;
      ASSERT_EQ(S_OK, input.query(&memInput));
      ComPtr<IMemAllocator> agreed;
      ASSERT_EQ(S_OK, memInput->GetAllocator(agreed.put())) << "the input pin was told the allocator";
      EXPECT_EQ(agreed.get(), pin_->SampleAllocator());
      EXPECT_EQ(p.offersAllocator ? 0 : 1, pin_->ownAllocators);
      const ALLOCATOR_PROPERTIES granted = Granted(pin_->SampleAllocator());
      EXPECT_GE(granted.cBuffers, 1);
      EXPECT_GE(granted.cbBuffer, static_cast<LONG>(offered.lSampleSize));

      Unplug(input.get());
      EXPECT_EQ(nullptr, pin_->SampleAllocator());
      agreed.reset();
      memInput.reset();
      input.reset();
      EXPECT_EQ(S_OK, graph_->RemoveFilter(peer.get()));
    }
  }
}

TEST_F(GraphThreadedTest, GraphBuilderConnectFindsTheTypeTheGrabberWants) {
  const GUID* subtypes[] = {&MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB565, &MEDIASUBTYPE_RGB555,
                            &MEDIASUBTYPE_RGB8};
  for (const GUID* subtype : subtypes) {
    ComPtr<IBaseFilter> peer = Add(CLSID_SampleGrabber, L"grabber");
    ComPtr<ISampleGrabber> grabber;
    ASSERT_EQ(S_OK, peer.query(&grabber));
    MediaType wanted;
    wanted.majortype = MEDIATYPE_Video;
    wanted.subtype = *subtype;
    ASSERT_EQ(S_OK, grabber->SetMediaType(&wanted));
    ComPtr<IPin> input = InputOf(peer.get());
    ASSERT_EQ(S_OK, graph_->Connect(pin_, input.get()));
    EXPECT_EQ(input.get(), pin_->Peer()) << "connected directly";
    EXPECT_TRUE(IsEqualGUID(*subtype, pin_->ConnectionType().subtype));
    Unplug(input.get());
    grabber.reset();
    input.reset();
    EXPECT_EQ(S_OK, graph_->RemoveFilter(peer.get()));
  }
}

TEST_F(GraphThreadedTest, VideoRendererTakesTheFirstFormat) {
  ComPtr<IBaseFilter> renderer = Add(CLSID_VideoRenderer, L"renderer");
  ComPtr<IPin> input = InputOf(renderer.get());
  ASSERT_EQ(S_OK, graph_->Connect(pin_, input.get()));
  EXPECT_EQ(input.get(), pin_->Peer());
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB32, pin_->ConnectionType().subtype));
  EXPECT_EQ(1, pin_->ownAllocators);
  EXPECT_GT(source_->pinLists, 0) << "the graph walked the filter's pins";
}

TEST_F(GraphThreadedTest, FilterWalksTheStatesWithTheGraph) {
  ComPtr<IBaseFilter> grabberFilter = Add(CLSID_SampleGrabber, L"grabber");
  ComPtr<IBaseFilter> renderer = Add(CLSID_NullRenderer, L"renderer");
  ComPtr<ISampleGrabber> grabber;
  ASSERT_EQ(S_OK, grabberFilter.query(&grabber));
  ASSERT_EQ(S_OK, grabber->SetBufferSamples(TRUE));
  ComPtr<IPin> grabberIn = InputOf(grabberFilter.get());
  ASSERT_EQ(S_OK, graph_->Connect(pin_, grabberIn.get()));
  ComPtr<IPin> grabberOut, rendererIn = InputOf(renderer.get());
  ASSERT_EQ(S_OK, grabberFilter->FindPin(L"Out", grabberOut.put()));
  ASSERT_EQ(S_OK, graph_->Connect(grabberOut.get(), rendererIn.get()));
  ComPtr<IMediaControl> control;
  ASSERT_EQ(S_OK, graph_.query(&control));

  ComPtr<IMediaSample> sample;
  EXPECT_EQ(VFW_E_NOT_COMMITTED, pin_->AcquireSample(sample.put(), nullptr, nullptr, 0));
  EXPECT_TRUE(SUCCEEDED(control->Pause()));
  EXPECT_EQ(State_Paused, source_->State());
  ASSERT_EQ(S_OK, pin_->AcquireSample(sample.put(), nullptr, nullptr, 0)) << "committed while paused";
  sample.reset();

  EXPECT_TRUE(SUCCEEDED(control->Run()));
  EXPECT_EQ(State_Running, source_->State());
  ASSERT_EQ(S_OK, pin_->AcquireSample(sample.put(), nullptr, nullptr, 0));
  sample->SetActualDataLength(sample->GetSize());
  EXPECT_EQ(S_OK, pin_->DeliverSample(sample.get()));
  sample.reset();
  long size = 0;
  EXPECT_EQ(S_OK, grabber->GetCurrentBuffer(&size, nullptr));
  EXPECT_EQ(320 * 240 * 4, size) << "the sample went through the grabber";

  EXPECT_TRUE(SUCCEEDED(control->Stop()));
  EXPECT_EQ(State_Stopped, source_->State());
  EXPECT_EQ(VFW_E_NOT_COMMITTED, pin_->AcquireSample(sample.put(), nullptr, nullptr, 0));
  EXPECT_EQ(S_OK, pin_->SendEndOfStream());
}

TEST_F(GraphThreadedTest, GraphKnowsTheFilterByNameAndPinId) {
  FILTER_INFO info;
  ASSERT_EQ(S_OK, filter_->QueryFilterInfo(&info));
  EXPECT_STREQ(L"Test Source", info.achName);
  ComPtr<IFilterGraph> asGraph;
  ASSERT_EQ(S_OK, graph_.query(&asGraph));
  EXPECT_EQ(asGraph.get(), info.pGraph);
  info.pGraph->Release();

  ComPtr<IBaseFilter> found;
  ASSERT_EQ(S_OK, graph_->FindFilterByName(L"Test Source", found.put()));
  EXPECT_EQ(filter_.get(), found.get());
  ComPtr<IPin> pin;
  ASSERT_EQ(S_OK, found->FindPin(L"1", pin.put()));
  EXPECT_EQ(static_cast<IPin*>(pin_), pin.get());

  // Events go to the graph's queue.
  EXPECT_EQ(S_OK, source_->NotifyGraph(EC_ERRORABORT, E_ACCESSDENIED, 0));
  ComPtr<IMediaEvent> events;
  ASSERT_EQ(S_OK, graph_->QueryInterface(IID_IMediaEvent, events.put_void()));
  long code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  ASSERT_EQ(S_OK, events->GetEvent(&code, &p1, &p2, 0));
  EXPECT_EQ(EC_ERRORABORT, code);
  EXPECT_EQ(E_ACCESSDENIED, static_cast<HRESULT>(p1));
  events->FreeEventParams(code, p1, p2);
}

TEST_F(GraphThreadedTest, ReleasingTheGraphDisconnectsAndLetsGo) {
  ComPtr<IBaseFilter> renderer = Add(CLSID_NullRenderer, L"renderer");
  ComPtr<IPin> input = InputOf(renderer.get());
  ASSERT_EQ(S_OK, graph_->Connect(pin_, input.get()));
  input.reset();
  renderer.reset();
  const int listsBefore = source_->pinLists;
  graph_.reset();
  EXPECT_GT(source_->pinLists, listsBefore) << "the graph found the pin to disconnect by walking the pins";
  EXPECT_FALSE(pin_->IsConnected());
  EXPECT_EQ(nullptr, source_->Graph());
}

}  // namespace
