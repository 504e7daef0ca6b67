#pragma once
// TestGraph: the desktop source in Wine's filter graph, connected to a Sample Grabber (in
// callback mode) that records every delivered frame and then to a Null Renderer. By default
// the graph has no reference clock, so nothing paces delivery.

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <string>
#include <vector>

#include "format/media_type.h"
#include "base/com_ptr.h"
#include "base/section_lock.h"
#include "hostkit/grabber_graph.h"
#include "tests/support/library.h"

// One delivered sample as the grabber saw it.
struct DeliveredFrame {
  REFERENCE_TIME start = 0;
  REFERENCE_TIME end = 0;
  bool hasTime = false;
  bool syncPoint = false;
  ULONGLONG arrival = 0;     // GetTickCount64 when the grabber handed the sample over
  std::vector<BYTE> pixels;  // kept only when the graph keeps pixels
};

class TestGraph {
 public:
  explicit TestGraph(const LoadedLibrary& library);
  // The same graph around a source filter the caller made (one output pin, id "1").
  explicit TestGraph(ComPtr<IBaseFilter> source);
  ~TestGraph();
  TestGraph(const TestGraph&) = delete;
  TestGraph& operator=(const TestGraph&) = delete;

  // Writes one property of the filter's bag.
  HRESULT WriteLong(const wchar_t* name, LONG value);
  HRESULT WriteBool(const wchar_t* name, bool value);
  HRESULT WritePointer(const wchar_t* name, const void* value);

  // Connects the source pin to the grabber, with the pin's format at position (0-4) or, for
  // -1, whatever the two pins agree; then the grabber to the renderer.
  HRESULT Connect(int formatPosition = 0);
  void KeepPixels(bool keep) { keepPixels_ = keep; }
  // Leaves the graph's reference clock in place, so the renderer paces delivery.
  HRESULT UseGraphClock();

  HRESULT Run();
  HRESULT Pause();
  HRESULT Stop();
  // Waits (pumping messages) until at least count frames arrived in total; false on time-out.
  bool WaitForFrames(size_t count, DWORD timeoutMs = 20000);

  std::vector<DeliveredFrame> Frames();
  size_t FrameCount();
  void ClearFrames();
  // The connected format of the source pin (the grabber's copy).
  AM_MEDIA_TYPE ConnectedType();  // the caller frees it with ReleaseMediaTypeFormat
  // The events the graph received (code, param1) in order; EC_ERRORABORT and friends.
  std::vector<std::pair<long, LONG_PTR>> Events();
  // Waits (pumping messages) for an event with this code; its param1, or false on time-out.
  // Events read while waiting are kept and returned by the next Events().
  bool WaitForEvent(long code, LONG_PTR* param1, DWORD timeoutMs = 10000);

  IBaseFilter* source() const { return graph_.source(); }
  IPin* sourcePin() const { return graph_.sourcePin(); }
  IGraphBuilder* graph() const { return graph_.graph(); }
  IBaseFilter* grabber() const { return graph_.grabberFilter(); }
  IBaseFilter* renderer() const { return graph_.renderer(); }
  IMediaControl* control() const { return graph_.control(); }

 private:
  class Callback;
  void Build(IBaseFilter* source);
  void ReadEvents();

  Callback* callback_ = nullptr;  // one reference, the graph holds another until it is released
  dorvantel::GrabberGraph graph_;
  bool keepPixels_ = true;
  SectionLock framesLock_;
  std::vector<DeliveredFrame> frames_;
  std::vector<std::pair<long, LONG_PTR>> events_;
};
