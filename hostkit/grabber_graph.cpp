#include "hostkit/grabber_graph.h"

#include "hostkit/pins.h"

namespace dorvantel {

HRESULT SampleCallback::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IUnknown && iid != IID_ISampleGrabberCB) return E_NOINTERFACE;
  *out = static_cast<ISampleGrabberCB*>(this);
  return S_OK;
}

HRESULT GrabberGraph::Create(IBaseFilter* source, ISampleGrabberCB* callback, Step* failed) {
  Step ignored;
  if (!failed) failed = &ignored;
  *failed = Step::Graph;
  HRESULT hr =
      ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph_.put_void());
  if (SUCCEEDED(hr)) hr = graph_.query(&control_);
  if (SUCCEEDED(hr)) hr = graph_->QueryInterface(IID_IMediaEvent, events_.put_void());
  if (FAILED(hr)) return hr;

  hr = MakePeers(callback, failed);
  if (FAILED(hr)) return hr;

  *failed = Step::Add;
  if (source) {
    source_ = ComPtr<IBaseFilter>(source);
    hr = graph_->AddFilter(source, L"Dorvantel");
    if (SUCCEEDED(hr)) hr = FindPin(source, PINDIR_OUTPUT, &sourcePin_);
    if (FAILED(hr)) return hr;
  }
  hr = graph_->AddFilter(grabberFilter_.get(), L"Sample Grabber");
  if (SUCCEEDED(hr)) hr = graph_->AddFilter(renderer_.get(), L"Null Renderer");
  return hr;
}

HRESULT GrabberGraph::MakePeers(ISampleGrabberCB* callback, Step* failed) {
  *failed = Step::Grabber;
  HRESULT hr = ::CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  grabberFilter_.put_void());
  if (SUCCEEDED(hr)) hr = grabberFilter_.query(&grabber_);
  if (SUCCEEDED(hr)) hr = grabber_->SetBufferSamples(FALSE);
  if (SUCCEEDED(hr)) hr = grabber_->SetOneShot(FALSE);
  if (SUCCEEDED(hr)) hr = grabber_->SetCallback(callback, 0);
  if (FAILED(hr)) return hr;
  *failed = Step::Renderer;
  return ::CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, renderer_.put_void());
}

HRESULT GrabberGraph::RenewPeers(ISampleGrabberCB* callback) {
  if (!graph_) return E_UNEXPECTED;
  if (grabber_) grabber_->SetCallback(nullptr, 0);
  if (grabberFilter_) graph_->RemoveFilter(grabberFilter_.get());
  if (renderer_) graph_->RemoveFilter(renderer_.get());
  grabber_.reset();
  grabberFilter_.reset();
  renderer_.reset();
  Step failed;
  HRESULT hr = MakePeers(callback, &failed);
  if (SUCCEEDED(hr)) hr = graph_->AddFilter(grabberFilter_.get(), L"Sample Grabber");
  if (SUCCEEDED(hr)) hr = graph_->AddFilter(renderer_.get(), L"Null Renderer");
  return hr;
}

HRESULT GrabberGraph::RemoveClock() {
  ComPtr<IMediaFilter> timing;
  HRESULT hr = graph_.query(&timing);
  return SUCCEEDED(hr) ? timing->SetSyncSource(nullptr) : hr;
}

HRESULT GrabberGraph::ConnectSource(const AM_MEDIA_TYPE* type) {
  if (!sourcePin_ || !grabberFilter_) return E_UNEXPECTED;
  ComPtr<IPin> grabberIn;
  HRESULT hr = FindPin(grabberFilter_.get(), PINDIR_INPUT, &grabberIn);
  return SUCCEEDED(hr) ? graph_->ConnectDirect(sourcePin_.get(), grabberIn.get(), type) : hr;
}

HRESULT GrabberGraph::ConnectRenderer(const AM_MEDIA_TYPE* rendererType) {
  if (!grabberFilter_ || !renderer_) return E_UNEXPECTED;
  ComPtr<IPin> grabberOut, rendererIn;
  HRESULT hr = FindPin(grabberFilter_.get(), PINDIR_OUTPUT, &grabberOut);
  if (SUCCEEDED(hr)) hr = FindPin(renderer_.get(), PINDIR_INPUT, &rendererIn);
  return SUCCEEDED(hr) ? graph_->ConnectDirect(grabberOut.get(), rendererIn.get(), rendererType) : hr;
}

void GrabberGraph::Release() noexcept {
  if (control_) control_->Stop();
  if (grabber_) grabber_->SetCallback(nullptr, 0);
  if (graph_) {
    if (source_) graph_->RemoveFilter(source_.get());
    if (grabberFilter_) graph_->RemoveFilter(grabberFilter_.get());
    if (renderer_) graph_->RemoveFilter(renderer_.get());
  }
  events_.reset();
  control_.reset();
  sourcePin_.reset();
  grabber_.reset();
  grabberFilter_.reset();
  renderer_.reset();
  source_.reset();
  graph_.reset();
}

}  // namespace dorvantel
