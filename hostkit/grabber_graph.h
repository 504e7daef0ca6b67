#pragma once
// GrabberGraph: a capture source in Wine's filter graph the way hosts record one: source ->
// Sample Grabber (callback mode, no buffered samples, not one-shot) -> Null Renderer. It
// owns the graph, the two peers and the pins it found; the caller owns the callback, which
// the grabber holds a reference on until Release. Release (also the destructor) stops the
// graph, takes the callback out and removes the filters, so that no reference between the
// filters and the graph outlives it and the callback is not called after it.

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include "base/com_ptr.h"

// Published with the platform's GUID library but declared by no header.
extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;

namespace dorvantel {

// The grabber's callback for an object that outlives the graph (the caller's own): it is not
// reference counted, and the grabber calls only SampleCB, which the derived class writes.
class SampleCallback : public ISampleGrabberCB {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }

 protected:
  ~SampleCallback() = default;
};

class GrabberGraph {
 public:
  // What Create could not do.
  enum class Step { Graph, Grabber, Renderer, Add };

  GrabberGraph() noexcept = default;
  ~GrabberGraph() { Release(); }
  GrabberGraph(const GrabberGraph&) = delete;
  GrabberGraph& operator=(const GrabberGraph&) = delete;

  // Makes the graph and the peers, sets up the grabber with callback and adds the three
  // filters (no source: the peers alone); *failed, when given, says which step failed.
  HRESULT Create(IBaseFilter* source, ISampleGrabberCB* callback, Step* failed = nullptr);
  // Puts a new grabber and renderer into the graph in place of the old ones, which go with
  // whatever they kept: Wine's keep the last allocator they were given until they are
  // released, and a source's own allocator is an object of its library. The graph is kept
  // (Wine keeps a handle for every graph it made). The old ones must be unconnected.
  HRESULT RenewPeers(ISampleGrabberCB* callback);
  // Takes the reference clock out: nothing paces delivery.
  HRESULT RemoveClock();
  // Connects the source's output pin to the grabber's input with type (null: whatever the
  // two agree), then the grabber's output to the renderer with rendererType.
  HRESULT ConnectSource(const AM_MEDIA_TYPE* type);
  HRESULT ConnectRenderer(const AM_MEDIA_TYPE* rendererType);
  void Release() noexcept;

  IGraphBuilder* graph() const noexcept { return graph_.get(); }
  IMediaControl* control() const noexcept { return control_.get(); }
  IMediaEvent* events() const noexcept { return events_.get(); }
  IBaseFilter* source() const noexcept { return source_.get(); }
  IPin* sourcePin() const noexcept { return sourcePin_.get(); }
  IBaseFilter* grabberFilter() const noexcept { return grabberFilter_.get(); }
  ISampleGrabber* grabber() const noexcept { return grabber_.get(); }
  IBaseFilter* renderer() const noexcept { return renderer_.get(); }

 private:
  // Makes the grabber, set up with callback, and the renderer; neither is in the graph yet.
  HRESULT MakePeers(ISampleGrabberCB* callback, Step* failed);

  ComPtr<IGraphBuilder> graph_;
  ComPtr<IMediaControl> control_;
  ComPtr<IMediaEvent> events_;
  ComPtr<IBaseFilter> source_;
  ComPtr<IPin> sourcePin_;
  ComPtr<IBaseFilter> grabberFilter_;
  ComPtr<ISampleGrabber> grabber_;
  ComPtr<IBaseFilter> renderer_;
};

}  // namespace dorvantel
