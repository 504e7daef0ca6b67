#pragma once
// CBaseFilter: the filter interfaces (IBaseFilter with IMediaFilter and IPersist, and
// IAMovieSetup) over pins that a derived class supplies through PinCount and PinAt.
//
// Owns its name and one reference on the reference clock; holds the graph and its event
// sink without references (the graph outlives its membership). The lock is given at
// construction and owned by the derived class; it guards changes of the state, the clock,
// the stream start, the graph membership and the name. The state is also atomic, so that
// the worker reads it (GetState) without the lock. The event sink lock (taken after the
// state lock) guards the event sink and is held while an event is sent, so that no event
// reaches a graph once JoinFilterGraph has replaced it.

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <memory>

#include "base/com_ptr.h"
#include "base/section_lock.h"
#include "framework/unknown.h"

class CBasePin;
struct FilterRegistration;

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
 public:
  CBaseFilter(IUnknown* outer, SectionLock* lock, const CLSID& clsid) noexcept;
  ~CBaseFilter() override;

  FORWARD_IUNKNOWN_TO_OUTER
  HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override;

  // The clock's time minus the stream start; VFW_E_NO_CLOCK without a clock.
  virtual HRESULT CurrentStreamTime(REFERENCE_TIME* time);
  virtual LONG PinListVersion();
  virtual int PinCount() = 0;
  // The pin at index, or null; no reference is added.
  virtual CBasePin* PinAt(int index) = 0;
  virtual const FilterRegistration* RegistrationRecord();

  // IPersist
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override;
  // IMediaFilter
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Pause() override;
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
  HRESULT STDMETHODCALLTYPE GetState(DWORD timeout, FILTER_STATE* state) override;
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
  // IBaseFilter
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;
  // IAMovieSetup
  HRESULT STDMETHODCALLTYPE Register() override;
  HRESULT STDMETHODCALLTYPE Unregister() override;

  // Sends an event to the graph's event sink; E_NOTIMPL when the filter has none.
  // For EC_COMPLETE the second parameter becomes this filter's IBaseFilter. Called by
  // workers, which take no other lock of the filter: the graph's Notify must not wait for
  // the thread that changes the filter's graph.
  HRESULT NotifyGraph(long code, LONG_PTR param1, LONG_PTR param2);

  FILTER_STATE State() const noexcept { return state_.load(); }
  SectionLock* Lock() const noexcept { return lock_; }
  REFERENCE_TIME StreamStart() const noexcept { return streamStart_; }
  IFilterGraph* Graph() const noexcept { return graph_; }

 private:
  std::atomic<FILTER_STATE> state_{State_Stopped};
  ComPtr<IReferenceClock> clock_;
  REFERENCE_TIME streamStart_ = 0;
  const CLSID clsid_;
  SectionLock* const lock_;
  std::unique_ptr<WCHAR[]> name_;
  IFilterGraph* graph_ = nullptr;
  SectionLock eventSinkLock_;
  IMediaEventSink* eventSink_ = nullptr;  // under eventSinkLock_
  const LONG pinListVersion_ = 1;
};
