#include "framework/base_filter.h"

#include <climits>
#include <cwchar>
#include <new>

#include "framework/base_pin.h"
#include "framework/enum_pins.h"
#include "framework/info_name.h"

namespace {

// Longest name a filter or pin keeps; longer text has no terminator we would find.
constexpr size_t kNameBound = 0x7FFFFFFF;

}  // namespace

CBaseFilter::CBaseFilter(IUnknown* outer, SectionLock* lock, const CLSID& clsid) noexcept
    : CUnknown(outer), clsid_(clsid), lock_(lock) {}

CBaseFilter::~CBaseFilter() = default;

HRESULT STDMETHODCALLTYPE CBaseFilter::InnerQueryInterface(REFIID iid, void** out) {
  if (IsEqualIID(iid, IID_IBaseFilter) || IsEqualIID(iid, IID_IMediaFilter) || IsEqualIID(iid, IID_IPersist)) {
    return ExposeInterface(static_cast<IBaseFilter*>(this), out);
  }
  if (IsEqualIID(iid, IID_IAMovieSetup)) return ExposeInterface(static_cast<IAMovieSetup*>(this), out);
  return CUnknown::InnerQueryInterface(iid, out);
}

HRESULT CBaseFilter::CurrentStreamTime(REFERENCE_TIME* time) {
  if (!time) return E_POINTER;
  if (!clock_) return VFW_E_NO_CLOCK;
  REFERENCE_TIME now = 0;
  const HRESULT hr = clock_->GetTime(&now);
  if (FAILED(hr)) return hr;
  *time = now - streamStart_;
  return S_OK;
}

LONG CBaseFilter::PinListVersion() { return pinListVersion_; }

const FilterRegistration* CBaseFilter::RegistrationRecord() { return nullptr; }

HRESULT STDMETHODCALLTYPE CBaseFilter::GetClassID(CLSID* id) {
  if (!id) return E_POINTER;
  *id = clsid_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Stop() {
  SectionLockHolder hold(lock_);
  HRESULT result = S_OK;
  if (state_ != State_Stopped) {
    const int count = PinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = PinAt(i);
      if (!pin) break;
      if (!pin->IsConnected()) continue;
      const HRESULT hr = pin->Deactivate();
      if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
  }
  state_ = State_Stopped;
  return result;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Pause() {
  SectionLockHolder hold(lock_);
  if (state_ == State_Stopped) {
    const int count = PinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = PinAt(i);
      if (!pin) break;
      if (!pin->IsConnected()) continue;
      const HRESULT hr = pin->Activate();
      if (FAILED(hr)) return hr;
    }
  }
  state_ = State_Paused;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Run(REFERENCE_TIME start) {
  SectionLockHolder hold(lock_);
  streamStart_ = start;
  if (state_ == State_Stopped) {
    // Through the interface, so that a derived filter's Pause runs.
    const HRESULT hr = static_cast<IBaseFilter*>(this)->Pause();
    if (FAILED(hr)) return hr;
  }
  if (state_ != State_Running) {
    const int count = PinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = PinAt(i);
      if (!pin) break;
      if (!pin->IsConnected()) continue;
      const HRESULT hr = pin->NotifyRunning(start);
      if (FAILED(hr)) return hr;
    }
  }
  state_ = State_Running;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  *state = state_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::SetSyncSource(IReferenceClock* clock) {
  SectionLockHolder hold(lock_);
  // The new reference is taken before the old one is dropped: setting the same clock again
  // must not let it die in between.
  clock_ = ComPtr<IReferenceClock>(clock);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  SectionLockHolder hold(lock_);
  *clock = clock_.get();
  if (*clock) (*clock)->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::EnumPins(IEnumPins** pins) {
  if (!pins) return E_POINTER;
  return CEnumPins::Create(this, pins);
}

HRESULT STDMETHODCALLTYPE CBaseFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!pin) return E_POINTER;
  *pin = nullptr;
  if (!id) return E_POINTER;
  // Ids are the decimal position + 1 that QueryId writes; read as _wtoi reads them.
  const long long index = static_cast<long long>(_wtoi(id)) - 1;
  if (index < 0 || index > INT_MAX) return VFW_E_NOT_FOUND;
  CBasePin* found = PinAt(static_cast<int>(index));
  if (!found) return VFW_E_NOT_FOUND;
  *pin = found->AsPin();
  (*pin)->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  // Under the lock: JoinFilterGraph frees and replaces the name on another thread.
  SectionLockHolder hold(lock_);
  CopyInfoName(name_.get(), info->achName);
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  SectionLockHolder hold(lock_);
  graph_ = graph;
  IMediaEventSink* sink = nullptr;
  // The graph owns the filter, so its sink outlives the membership: no reference is kept.
  if (graph && SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) && sink) {
    sink->Release();
  } else {
    sink = nullptr;
  }
  {
    // Waits for an event being sent to the old graph, which may go once this returns.
    SectionLockHolder sinkHold(&eventSinkLock_);
    eventSink_ = sink;
  }
  name_.reset();
  if (!name) return S_OK;
  const size_t length = wcsnlen(name, kNameBound);
  if (length == kNameBound) return E_INVALIDARG;
  name_.reset(new (std::nothrow) WCHAR[length + 1]);
  if (!name_) return E_OUTOFMEMORY;
  std::wmemcpy(name_.get(), name, length + 1);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

// No filter of this module carries registration data into the registry itself.
HRESULT STDMETHODCALLTYPE CBaseFilter::Register() { return RegistrationRecord() ? E_NOTIMPL : S_FALSE; }

HRESULT STDMETHODCALLTYPE CBaseFilter::Unregister() { return RegistrationRecord() ? E_NOTIMPL : S_FALSE; }

HRESULT CBaseFilter::NotifyGraph(long code, LONG_PTR param1, LONG_PTR param2) {
  SectionLockHolder sinkHold(&eventSinkLock_);
  if (!eventSink_) return E_NOTIMPL;
  if (code == EC_COMPLETE) param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
  return eventSink_->Notify(code, param1, param2);
}
