#pragma once
// The live preview: the desktop source from the library beside the program, loaded with a
// preset the way binding its device loads it (IPersistPropertyBag::Load), in a
// Sample Grabber graph like a host's. Frames arrive on the source's streaming thread; the
// latest is kept and the window told with a posted message (one at a time), and painted
// scaled to fit on the window's thread.
//
// Owns the library, the graph and the frame copy; lock_ guards the copy and its format
// between the streaming thread and the painting thread. Not reference counted: the graph,
// which holds the callback, is released before the object goes.

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <atomic>
#include <string>
#include <vector>

#include "base/section_lock.h"
#include "hostkit/capture_graph.h"
#include "hostkit/frame_format.h"
#include "hostkit/grabber_graph.h"
#include "hostkit/preset.h"
#include "hostkit/source_library.h"

namespace dorvantel {

class Preview : public SampleCallback {
 public:
  Preview() = default;
  ~Preview() { Stop(); }
  Preview(const Preview&) = delete;
  Preview& operator=(const Preview&) = delete;

  // Runs the source with the preset at rate frames a second at most; each new frame posts
  // message to window. error: one line when it cannot.
  HRESULT Start(const Preset& preset, int rate, HWND window, UINT message, std::wstring* error);
  void Stop();
  // Draws the latest frame into area, scaled to fit with its proportions; false when there
  // is none. size: the frames' size ("320x240 rgb32").
  bool Paint(HDC dc, const RECT& area, std::wstring* size);
  // Marks the posted message handled, so that the next frame posts again.
  void Consumed() { posted_ = false; }
  uint64_t frames() const noexcept { return frames_.load(); }

  HRESULT STDMETHODCALLTYPE SampleCB(double time, IMediaSample* sample) override;

 private:
  SourceLibrary library_;
  CaptureGraph graph_;
  bool running_ = false;
  HWND window_ = nullptr;
  UINT message_ = 0;
  std::atomic<bool> posted_{false};
  std::atomic<uint64_t> frames_{0};

  SectionLock lock_;
  FrameFormat format_;
  std::vector<BYTE> frame_;
};

}  // namespace dorvantel
