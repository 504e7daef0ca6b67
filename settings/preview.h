#pragma once
// The live preview: the desktop source from the library beside the program, loaded with a
// preset the way binding its device loads it (IPersistPropertyBag::Load), in a
// Sample Grabber graph like a host's. Loading the library and building, running and stopping
// the graph take their time, so a thread of the preview's own does them, in a COM apartment of
// its own: the window only leaves orders (show this preset, stop), which never wait, and hears
// how a start went by a posted message. Frames arrive on the source's streaming thread; the
// latest is kept and the window told with a posted message (one at a time), and painted
// scaled to fit on the window's thread.
//
// Owns the preview's thread, and through it the library, the graph and the frame copy.
// orderLock_ guards the orders and the outcome between the window's thread and the preview's;
// lock_ guards the frame copy and its format between the streaming thread and the painting
// thread. Not reference counted: the graph, which holds the callback, is released before the
// object goes. The destructor waits for the preview's thread to stop the graph; a window that
// must not wait long calls Quit with a time first.

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "base/handles.h"
#include "base/section_lock.h"
#include "hostkit/capture_graph.h"
#include "hostkit/frame_format.h"
#include "hostkit/grabber_graph.h"
#include "preset/preset.h"
#include "hostkit/source_library.h"

namespace dorvantel {

class Preview : public SampleCallback {
 public:
  Preview() = default;
  ~Preview();
  Preview(const Preview&) = delete;
  Preview& operator=(const Preview&) = delete;

  // Orders the source run with the preset at rate frames a second at most, in place of what
  // ran: each new frame posts frameMessage to window, and the start's outcome startedMessage
  // (read it with Started). An error when the preview's thread cannot start.
  HRESULT Show(const Preset& preset, int rate, HWND window, UINT frameMessage, UINT startedMessage);
  // Orders the source stopped; the frame shown is dropped now.
  void Stop();
  // Orders the preview's thread to stop the graph and end, and waits for it up to waitMs; false
  // when it has not ended by then (it still uses this object: the caller must keep it).
  bool Quit(DWORD waitMs);
  // On startedMessage: how the start went. Stale: it was for a Show or before a Stop that
  // came after it, and says nothing of what runs now. error: one line when it failed.
  enum class Start { Stale, Running, Failed };
  Start Started(std::wstring* error);
  // Draws the latest frame into area, scaled to fit with its proportions; false when there
  // is none. size: the frames' size ("320x240 rgb32"; for a YUV preset "320x240 i420
  // (previewed in rgb32)").
  bool Paint(HDC dc, const RECT& area, std::wstring* size);
  // Marks the posted message handled, so that the next frame posts again.
  void Consumed() { posted_ = false; }
  uint64_t frames() const noexcept { return frames_.load(); }

  HRESULT STDMETHODCALLTYPE SampleCB(double time, IMediaSample* sample) override;

 private:
  enum class Order { None, Show, Stop, Quit };
  HRESULT Give(Order order);
  static DWORD WINAPI Serve(void* self);
  // The preview's thread alone:
  HRESULT StartGraph(const Preset& preset, int rate, std::wstring* error);
  void StopGraph();

  SourceLibrary library_;
  CaptureGraph graph_;
  bool running_ = false;
  HWND window_ = nullptr;  // set by the preview's thread while no graph runs
  UINT message_ = 0;
  std::atomic<bool> posted_{false};
  std::atomic<uint64_t> frames_{0};

  SectionLock orderLock_;
  Order order_ = Order::None;
  Preset preset_;
  int rate_ = 0;
  HWND orderWindow_ = nullptr;
  UINT frameMessage_ = 0, startedMessage_ = 0;
  unsigned orders_ = 0;  // orders given, counted; the outcome says which it answers
  unsigned outcomeOf_ = 0;
  HRESULT outcome_ = S_OK;
  std::wstring outcomeError_;
  EventHandle wake_;
  ThreadHandle thread_;

  SectionLock lock_;
  FrameFormat format_;
  // A YUV format the preset asks for: the preview connects in RGB32 instead, which GDI draws.
  std::optional<PixelFormat> hostsFormat_;
  std::vector<BYTE> frame_;
};

}  // namespace dorvantel
