#pragma once
// The object base of every COM object in the library.
//
// CBaseObject counts live objects module-wide (DllCanUnloadNow reads LiveObjectCount).
// CUnknown adds the reference count and the inner, non-delegating unknown, so that an
// object can be aggregated: every interface an object exposes forwards its IUnknown
// methods to the outer unknown, and the inner unknown does the real work.

#include <windows.h>
#include <unknwn.h>

#include <atomic>

// Number of CBaseObjects alive in this module; changed by any thread, read by DllCanUnloadNow.
extern std::atomic<LONG> LiveObjectCount;

class CBaseObject {
 public:
  CBaseObject() noexcept { ++LiveObjectCount; }
  ~CBaseObject() { --LiveObjectCount; }
  CBaseObject(const CBaseObject&) = delete;
  CBaseObject& operator=(const CBaseObject&) = delete;
};

// The IUnknown layout under other names, so that one object can carry both the inner
// unknown and the forwarding IUnknown of its exposed interfaces.
struct INonDelegatingUnknown {
  virtual HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) = 0;
  virtual ULONG STDMETHODCALLTYPE InnerAddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE InnerRelease() = 0;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
 public:
  // outer: the aggregating object's unknown, or null; it is never reference-counted.
  explicit CUnknown(IUnknown* outer) noexcept;
  virtual ~CUnknown();

  HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE InnerAddRef() override;
  ULONG STDMETHODCALLTYPE InnerRelease() override;

  // The unknown that every exposed interface forwards to.
  IUnknown* OuterUnknown() const noexcept { return outer_; }
  // This object's inner unknown viewed as an IUnknown.
  IUnknown* InnerUnknown() noexcept {
    return reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this));
  }

 private:
  IUnknown* const outer_;
  std::atomic<LONG> refCount_{0};
};

// Hands out an interface pointer with a reference added (the AddRef reaches the outer
// unknown through the interface's forwarding).
HRESULT ExposeInterface(IUnknown* p, void** out) noexcept;

// The IUnknown methods of an exposed interface: forwarded to the object's outer unknown.
// A class that implements several interfaces needs them once; a class that adds an
// interface to a base needs them again for the new one.
#define FORWARD_IUNKNOWN_TO_OUTER                                                        \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {            \
    return OuterUnknown()->QueryInterface(iid, out);                                     \
  }                                                                                      \
  ULONG STDMETHODCALLTYPE AddRef() override { return OuterUnknown()->AddRef(); }         \
  ULONG STDMETHODCALLTYPE Release() override { return OuterUnknown()->Release(); }
