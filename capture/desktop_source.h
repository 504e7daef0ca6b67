#pragma once
// The screen-capture source: the filter CPushSourceDesktop and its one output pin
// CPushPinDesktop.
//
// The filter owns the pin (created in its constructor, deleted in its destructor) and the
// property bag's LastCaptureArea. The pin owns the capture (settings, device contexts, GDI+
// session, CaptureLock), the pacing fields, the frame schedule and the wake event. Locks: the
// filter's state lock (also the pin's lock) guards connection and state; CaptureLock guards
// one grab with its stamping and every settings change; state lock before CaptureLock where
// both are held. The format lock guards the connection's bitmap header and colours, which
// the worker writes back while streaming when a grab changed them; it is taken last (state
// lock, then format lock; the worker takes it inside CaptureLock). The pause accounting fields are shared between the graph's thread and the
// worker and are atomic. The worker waits for its next frame slot, or while paused, on its
// request event and the wake event, which the filter signals after every Pause, Run and
// setting written; the worker holds no lock while it waits.

#include <windows.h>
#include <dshow.h>
#include <ocidl.h>

#include <atomic>
#include <cstdint>

#include "capture/desktop_capture.h"
#include "capture/frame_pacing.h"
#include "capture/property_bag.h"
#include "format/section_allocator.h"
#include "format/stream_caps.h"
#include "base/handles.h"
#include "framework/source_filter.h"
#include "framework/source_stream.h"
#include "module/dorvantel.h"

// Milliseconds since the system started, in 100-ns units.
REFERENCE_TIME TickTime() noexcept;

class CPushSourceDesktop;

// Made as StreamingPin<CPushPinDesktop> (framework/source_stream.h), which ends the worker
// before anything the pin owns goes.
class CPushPinDesktop : public CSourceStream, public IKsPropertySet, public IAMStreamConfig {
 public:
  CPushPinDesktop(MostDerived key, HRESULT* result, CPushSourceDesktop* filter) noexcept;
  ~CPushPinDesktop() override;

  FORWARD_IUNKNOWN_TO_OUTER
  HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override;

  // IKsPropertySet: the pin's category (capture) is its one property, read-only.
  HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, void* instance, DWORD instanceSize, void* data,
                                DWORD dataSize) override;
  HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, void* instance, DWORD instanceSize, void* data,
                                DWORD dataSize, DWORD* returned) override;
  HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

  // IAMStreamConfig: the formats and sizes hosts may choose (format/stream_caps.h). SetFormat
  // writes the same settings as the property bag's OutputDimensions and FrameRate, and from
  // then on the pin offers and accepts only the chosen format; SetFormat(NULL) goes back to
  // the whole capture at 10 frames a second in any format. A connected pin keeps its type:
  // only a type of the connected format and size is taken then (it may change the rate), any
  // other gives VFW_E_ALREADY_CONNECTED.
  HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** type) override;
  HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override;
  HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;
  // Changes with every SetFormat, so that enumerators made before it report it.
  LONG MediaTypeVersion() override { return mediaTypeVersion_.load(); }

  // A copy of the connection type, taken under the format lock.
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override;

  // The stream ends (EC_ERRORABORT with kCaptureWindowGone) once the captured window is
  // closed; a grab that drew nothing sends no sample.
  HRESULT FillSample(IMediaSample* sample) override;
  // The capture's kept bitmaps and the timer resolution are not held while the pin does not
  // stream.
  HRESULT OnWorkerStop() override;

  HRESULT VerifyMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT ApplyMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT MediaTypeAt(int position, MediaType* type) override;
  HRESULT SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  // The pin's own allocator, for a downstream pin that brings none: buffers that are DIB
  // sections of the connection's layout, which screen frames are copied straight into.
  HRESULT CreateOwnAllocator(IMemAllocator** allocator) override;
  // Lets go of the own allocator with the connection.
  HRESULT ReleasePeer() override;

  // The pin never changes its behaviour in answer to quality messages.
  HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* sender, Quality quality) override;

  DesktopCapture& Capture() noexcept { return capture_; }
  // A monitor's (or the desktop's) rectangle taken from the layout as it is now, keeping the
  // connected frame size when the pin is connected (DesktopCapture::TakeLayout).
  void TakeLayout() noexcept;

  // Pause accounting, called by the filter on the graph's thread.
  void PauseRequested(REFERENCE_TIME now) noexcept;
  void RunRequested(REFERENCE_TIME now) noexcept;
  REFERENCE_TIME PausedTotal() const noexcept { return pausedTotal_.load(); }
  // Called by the filter once its state has changed: a waiting worker looks at it again.
  // After a pause the next running frame comes at once and starts a new schedule, also
  // when the worker spent the pause inside a delivery (a renderer holding its sample).
  void WakeWorker(bool afterPause) noexcept {
    if (afterPause) restartSchedule_.store(true);
    ::SetEvent(wake_.get());
  }
  // After settings were written through the bag: a waiting worker takes a new rate or
  // pacing from its next slot on; formatsChanged: enumerators made before report it.
  void SettingsWritten(bool formatsChanged) noexcept {
    if (formatsChanged) ++mediaTypeVersion_;
    WakeWorker(false);
  }

 private:
  REFERENCE_TIME StampStart(REFERENCE_TIME t0, REFERENCE_TIME t1, REFERENCE_TIME* end) noexcept;
  // Worker side: S_OK once the next frame slot has come (at once when pacing is off), or
  // S_SAMPLE_NOT_FILLED when a command or a state change came first.
  HRESULT AwaitFrameSlot();
  StreamCapsSizes CapsSizes() noexcept;

  DesktopCapture capture_;
  std::atomic<LONG> mediaTypeVersion_{1};
  SectionLock formatLock_;
  // The last own allocator made, set while connecting under the state lock; the worker reads
  // it while streaming, when the connection cannot change.
  ComPtr<SectionAllocator> ownAllocator_;
  // Worker only, under CaptureLock.
  LONG frameCount_ = 0;
  // What a grab converts with: the connection's bitmap header and colour area.
  alignas(8) BYTE grabInfo_[sizeof(BITMAPV5HEADER) + 256 * sizeof(RGBQUAD)] = {};
  REFERENCE_TIME stampClock_ = 0;
  // Shared with the graph's thread.
  std::atomic<bool> awaitingPausedFrame_{true};
  std::atomic<bool> frameStamped_{false};
  std::atomic<int64_t> pauseStart_{0};
  std::atomic<int64_t> pausedTotal_{0};
  // Auto-reset; signalled by the filter's thread, waited on by the worker.
  EventHandle wake_;
  std::atomic<bool> restartSchedule_{false};
  // Worker only.
  FrameSchedule schedule_;
  TimerResolution timerResolution_;
};

class CPushSourceDesktop : public CSource,
                           public IPropertyBag,
                           public IPersistPropertyBag,
                           public IAMFilterMiscFlags,
                           public ISpecifyPropertyPages {
 public:
  CPushSourceDesktop(IUnknown* outer, HRESULT* result) noexcept;
  ~CPushSourceDesktop() override;

  FORWARD_IUNKNOWN_TO_OUTER
  HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override;

  HRESULT STDMETHODCALLTYPE Pause() override;
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
  // A live source: VFW_S_CANT_CUE while paused.
  HRESULT STDMETHODCALLTYPE GetState(DWORD timeout, FILTER_STATE* state) override;

  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog* errorLog) override;
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override;

  // IPersistPropertyBag: the settings stored in another bag, such as a capture device's
  // registry key (CapturePropertyBag::Load and Save). InitNew gives the defaults. A window
  // named by its title that is missing when streaming starts fails Pause with
  // HRESULT_FROM_WIN32(ERROR_NOT_FOUND). A monitor's rectangle is taken again then too.
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* classId) override;
  HRESULT STDMETHODCALLTYPE InitNew() override;
  HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* errorLog) override;
  HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAllProperties) override;

  // IAMFilterMiscFlags: a source, so the graph waits for its end of stream from renderers only.
  ULONG STDMETHODCALLTYPE GetMiscFlags() override;

  // ISpecifyPropertyPages: the filter's one page, CLSID_DesktopSourcePage.
  HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;

  CPushPinDesktop* Pin() const noexcept { return pin_; }

 private:
  CPushPinDesktop* pin_ = nullptr;  // owned
  CapturePropertyBag propertyBag_;
};

// The class factory's creation function: the new filter (reference count 0) or null.
CUnknown* CreateDesktopSource(IUnknown* outer, HRESULT* result);
