#include "bench/own_allocator.h"

#include <atomic>
#include <cstdint>

#include "base/com_ptr.h"
#include "bench/layouts.h"
#include "base/handles.h"
#include "hostkit/pins.h"
#include "hostkit/source_library.h"
#include "hostkit/source_settings.h"
#include "module/dorvantel.h"

namespace dorvantel {

namespace {

// An input pin that takes any video type, answers VFW_E_NO_ALLOCATOR as the hosts' sinks do,
// and counts what it receives in its measured window. Owned by the case (on its stack); its
// references only count.
class CountingSink final : public IPin, public IMemInputPin {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
      *out = static_cast<IPin*>(this);
    } else if (IsEqualIID(iid, IID_IMemInputPin)) {
      *out = static_cast<IMemInputPin*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }

  HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin*, const AM_MEDIA_TYPE* type) override {
    return type && IsEqualGUID(type->majortype, MEDIATYPE_Video) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT STDMETHODCALLTYPE Disconnect() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override {
    *direction = PINDIR_INPUT;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EndOfStream() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override {
    *allocator = nullptr;
    return VFW_E_NO_ALLOCATOR;
  }
  HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
    window.Count(sample);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, long count, long* done) override {
    *done = 0;
    for (long i = 0; i < count; ++i, ++*done) Receive(samples[i]);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }

  MeasuredWindow window;

 private:
  std::atomic<ULONG> refs_{1};
};

}  // namespace

CaseResult RunOwnAllocator(const std::string& name, const FilterOptions& options, const LoopTiming& timing,
                           const ServerClock& server) {
  CaseResult result;
  result.name = name;
  SourceLibrary library;
  library.Load(ProgramFolder() + DORVANTEL_DLL_NAME);
  CountingSink sink;
  {
    ComPtr<IBaseFilter> filter;
    HRESULT hr = library.loaded() ? library.CreateFilter(&filter) : HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    if (SUCCEEDED(hr)) hr = WriteFilterOptions(filter.get(), options);
    ComPtr<IPin> pin;
    if (SUCCEEDED(hr)) hr = filter->FindPin(L"1", pin.put());
    TaskMediaType type;
    if (SUCCEEDED(hr)) hr = PositionType(pin.get(), options.layout->position, &type);
    if (SUCCEEDED(hr)) {
      const auto* format = reinterpret_cast<const VIDEOINFOHEADER*>(type.get()->pbFormat);
      result.width = format->bmiHeader.biWidth;
      result.height = format->bmiHeader.biHeight;
      hr = pin->Connect(&sink, type.get());
    }
    if (FAILED(hr) || FAILED(filter->Run(0))) {
      result.note = "connect-or-run-failed";
    } else {
      ::Sleep(static_cast<DWORD>(timing.warmupSeconds * 1000));
      sink.window.Arm(timing.seconds, &server);
      result.ok = sink.window.Wait(static_cast<DWORD>((timing.seconds + 30) * 1000), &result) && result.frames > 0;
      result.peakMegabytes = PeakMegabytes();
      if (!result.ok) result.note = "no-frames";
    }
    if (filter) filter->Stop();
    if (pin) pin->Disconnect();
  }
  return result;
}

}  // namespace dorvantel
