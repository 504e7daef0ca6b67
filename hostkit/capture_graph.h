#pragma once
// The recording graph: the desktop source -> Sample Grabber (callback mode) -> Null
// Renderer. With the graph's reference clock in place the renderer holds every frame
// until its time stamp, so the source delivers at the frame rate; without it, as fast as
// it can grab. The callback runs on the source's streaming thread. The graph tears itself
// down when it goes (GrabberGraph).

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <optional>
#include <string>

#include "hostkit/grabber_graph.h"
#include "hostkit/frame_format.h"

namespace dorvantel {

class CaptureGraph {
 public:
  // Places the source in a new graph and connects it in the given format, or without one in
  // the first format the source offers. error: one line for the user.
  HRESULT Build(IBaseFilter* source, std::optional<PixelFormat> pixels, bool pacedByClock, ISampleGrabberCB* callback,
                std::wstring* error);
  // The connected format, with the 8-bit colour table.
  HRESULT ConnectedFormat(FrameFormat* format);
  // Fails when a filter cannot start (when the graph changes state asynchronously, as
  // its state says within kStartMs).
  HRESULT Run();
  HRESULT Stop();
  // Reads pending graph events; returns a failure when the stream was aborted, S_FALSE
  // when it completed, S_OK otherwise.
  HRESULT CheckEvents();
  // Releases the graph and its filters; the callback is not called after this.
  void Release() { graph_.Release(); }

 private:
  static constexpr LONG kStartMs = 5000;
  GrabberGraph graph_;
};

}  // namespace dorvantel
