#pragma once
// Hand-written stand-ins for the downstream side, for the faults no real peer produces on
// demand: an allocator that refuses or grants too little, an input pin whose GetAllocator,
// NotifyAllocator or Receive fail, a peer of the wrong direction. The test owns each double
// (on its stack); the reference count only shows that every reference taken was given back
// (it starts at 1, the test's own).

#include <windows.h>
#include <dshow.h>

#include <vector>

#include "format/media_type.h"
#include "framework/base_pin.h"
#include "base/section_lock.h"

struct RefCounted {
  LONG refs = 1;
  ULONG Add() { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
  ULONG Drop() { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
};

class FakeAllocator : public IMemAllocator {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMemAllocator)) {
      *out = static_cast<IMemAllocator*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return count.Add(); }
  ULONG STDMETHODCALLTYPE Release() override { return count.Drop(); }

  HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override {
    requests.push_back(*request);
    if (FAILED(setPropertiesResult)) return setPropertiesResult;
    *actual = *request;
    actual->cBuffers = grantBuffers ? grantBuffers : request->cBuffers;
    actual->cbBuffer = request->cbBuffer - shortBy;
    granted = *actual;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* props) override {
    *props = granted;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Commit() override {
    ++commits;
    if (SUCCEEDED(commitResult)) committed = true;
    return commitResult;
  }
  HRESULT STDMETHODCALLTYPE Decommit() override {
    ++decommits;
    if (SUCCEEDED(decommitResult)) committed = false;
    return decommitResult;
  }
  HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                      DWORD flags) override {
    lastStart = start;
    lastStop = stop;
    lastFlags = flags;
    *sample = nullptr;
    return committed ? E_NOTIMPL : VFW_E_NOT_COMMITTED;
  }
  HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample*) override { return S_OK; }

  RefCounted count;
  HRESULT setPropertiesResult = S_OK;
  LONG shortBy = 0;
  LONG grantBuffers = 0;
  HRESULT commitResult = S_OK;
  HRESULT decommitResult = S_OK;
  std::vector<ALLOCATOR_PROPERTIES> requests;
  ALLOCATOR_PROPERTIES granted = {};
  int commits = 0;
  int decommits = 0;
  bool committed = false;
  REFERENCE_TIME* lastStart = nullptr;
  REFERENCE_TIME* lastStop = nullptr;
  DWORD lastFlags = 0;
};

// A pin whose only job is to list media types, through the library's own enumerator.
class TypeListPin : public CBasePin {
 public:
  TypeListPin() : CBasePin(nullptr, &lock_, L"types", PINDIR_INPUT) {}
  ~TypeListPin() override {
    for (AM_MEDIA_TYPE& type : types) ReleaseMediaTypeFormat(&type);
  }
  void Add(const AM_MEDIA_TYPE& type) {
    types.emplace_back();
    DuplicateMediaType(&types.back(), &type);
  }
  HRESULT VerifyMediaType(const AM_MEDIA_TYPE*) override { return S_OK; }
  HRESULT MediaTypeAt(int position, MediaType* type) override {
    if (position < 0) return E_INVALIDARG;
    if (position >= static_cast<int>(types.size())) return VFW_S_NO_MORE_ITEMS;
    return type->Assign(types[position]);
  }
  std::vector<AM_MEDIA_TYPE> types;

 private:
  SectionLock lock_;
};

class FakeInputPin : public IPin, public IMemInputPin {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
      *out = static_cast<IPin*>(this);
    } else if (IsEqualIID(iid, IID_IMemInputPin) && exposeMemInput) {
      *out = static_cast<IMemInputPin*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return count.Add(); }
  ULONG STDMETHODCALLTYPE Release() override { return count.Drop(); }

  // IPin
  HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override {
    offered.push_back(type->subtype);
    if (!script.empty()) {
      const HRESULT answer = script.front();
      script.erase(script.begin());
      if (FAILED(answer)) return answer;
    }
    for (const Refusal& r : refusals) {
      if (IsEqualGUID(r.subtype, type->subtype)) return r.result;
    }
    if (!IsEqualGUID(acceptOnly, GUID_NULL) && !IsEqualGUID(type->subtype, acceptOnly)) return refusal;
    if (FAILED(receiveConnectionResult)) return receiveConnectionResult;
    connected = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Disconnect() override {
    ++disconnects;
    connected = false;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* dir) override {
    if (FAILED(queryDirectionResult)) return queryDirectionResult;
    *dir = direction;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override {
    if (!typeList) return E_NOTIMPL;
    return typeList->EnumMediaTypes(types);
  }
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EndOfStream() override {
    ++endOfStreams;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override {
    segment = {start, stop, rate};
    return S_OK;
  }

  // IMemInputPin
  HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override {
    *allocator = offeredAllocator;
    if (!offeredAllocator) return VFW_E_NO_ALLOCATOR;
    offeredAllocator->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override {
    notified.push_back({allocator, readOnly});
    if (static_cast<int>(notified.size()) <= notifyFailures) return VFW_E_BADALIGN;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override {
    if (FAILED(requirementsResult)) return requirementsResult;
    *props = requirements;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
    received.push_back(sample);
    return receiveResult;
  }
  HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample**, long, long* done) override {
    *done = 0;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }

  RefCounted count;
  PIN_DIRECTION direction = PINDIR_INPUT;
  HRESULT queryDirectionResult = S_OK;
  bool exposeMemInput = true;
  // Accept only this subtype (GUID_NULL: any), refusing others with refusal.
  GUID acceptOnly = GUID_NULL;
  HRESULT refusal = VFW_E_TYPE_NOT_ACCEPTED;
  // Answers to the next attempts, in order, before any other rule (S_OK: the rules decide).
  std::vector<HRESULT> script;
  // Subtypes refused with a result of their own, before acceptOnly is looked at.
  struct Refusal {
    GUID subtype;
    HRESULT result;
  };
  std::vector<Refusal> refusals;
  HRESULT receiveConnectionResult = S_OK;
  TypeListPin* typeList = nullptr;
  IMemAllocator* offeredAllocator = nullptr;
  // NotifyAllocator fails (VFW_E_BADALIGN) for this many first calls.
  int notifyFailures = 0;
  HRESULT requirementsResult = E_NOTIMPL;
  ALLOCATOR_PROPERTIES requirements = {};
  HRESULT receiveResult = S_OK;

  std::vector<GUID> offered;
  struct Notified {
    IMemAllocator* allocator;
    BOOL readOnly;
  };
  std::vector<Notified> notified;
  std::vector<IMediaSample*> received;
  struct Segment {
    REFERENCE_TIME start, stop;
    double rate;
  } segment = {};
  bool connected = false;
  int disconnects = 0;
  int endOfStreams = 0;
};

// A reference clock that reports a fixed time and notes when its last reference goes.
class FakeClock : public IReferenceClock {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IReferenceClock)) {
      *out = static_cast<IReferenceClock*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return count.Add(); }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG now = count.Drop();
    if (now == 0) died = true;
    return now;
  }
  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* time) override {
    *time = now;
    return timeResult;
  }
  HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR) override { return E_NOTIMPL; }

  RefCounted count;
  REFERENCE_TIME now = 0;
  HRESULT timeResult = S_OK;
  bool died = false;
};
