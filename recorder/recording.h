#pragma once
// One recording: receives the frames of the graph's Sample Grabber on the source's
// streaming thread, places them on the recording's timeline and hands every slot's frame
// to the output. Owns a copy of the last frame (for slots the source did not reach) and
// the done event. lock_ guards the timeline, the copy and the output calls between the
// streaming thread and the thread that stops the recording; the counters are atomic so
// that progress can be read without it.
//
// Not reference counted: it lives on the recorder's stack and outlives the graph that
// holds pointers to it.

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/handles.h"
#include "base/section_lock.h"
#include "hostkit/frame_format.h"
#include "hostkit/grabber_graph.h"
#include "recorder/frame_timeline.h"

namespace dorvantel {

class Recording : public SampleCallback {
 public:
  using WriteFrame = std::function<HRESULT(const void* frame)>;

  // stampsPaced: the source's time stamps are frame count x interval and the graph clock
  // paces them, so a frame's stamp is its place on the timeline unless it arrives later
  // than that. frameLimit: frames to record, 0 for no limit.
  Recording(int frameRate, uint64_t frameLimit, bool stampsPaced);
  ~Recording();
  Recording(const Recording&) = delete;
  Recording& operator=(const Recording&) = delete;

  // Takes the connected format and the output, and sets the start of the recording's
  // time; call just before the graph runs. Frames that come before are ignored.
  void Start(const FrameFormat& format, WriteFrame write);
  // Ignores every frame from now on; returns once no frame is being written.
  void Stop();
  // Set when the recording holds all its frames or an output write failed.
  HANDLE doneEvent() const noexcept { return done_.get(); }
  HRESULT writeError() const noexcept { return writeError_.load(); }

  // Seconds since Start.
  double elapsed() const;
  uint64_t delivered() const noexcept { return delivered_.load(); }  // frames from the source
  uint64_t written() const noexcept { return written_.load(); }      // frames in the output
  uint64_t repeated() const noexcept { return repeated_.load(); }    // slots the source missed
  // Frames per second from the first frame to the last.
  double deliveryRate();

  HRESULT STDMETHODCALLTYPE SampleCB(double time, IMediaSample* sample) override;

 private:
  int64_t Now() const;  // 100-ns units since Start
  void Fail(HRESULT hr);

  const int64_t interval_;
  const bool stampsPaced_;
  EventHandle done_;
  LARGE_INTEGER frequency_{};
  LARGE_INTEGER start_{};

  SectionLock lock_;
  FrameFormat format_;
  WriteFrame write_;
  FrameTimeline timeline_;
  std::vector<BYTE> lastFrame_;
  int64_t firstArrival_ = 0;
  int64_t lastArrival_ = 0;
  int64_t leastDelay_ = 0;
  bool started_ = false;
  bool stopped_ = false;

  std::atomic<uint64_t> delivered_{0};
  std::atomic<uint64_t> written_{0};
  std::atomic<uint64_t> repeated_{0};
  std::atomic<HRESULT> writeError_{S_OK};
};

}  // namespace dorvantel
