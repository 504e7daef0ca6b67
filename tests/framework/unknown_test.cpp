#include <gtest/gtest.h>

#include <windows.h>

#include <optional>

#include "base/section_lock.h"
#include "framework/unknown.h"
#include "tests/support/live_objects.h"

namespace {

// {6C3F8D0E-1A52-4D7B-9E10-3B1E2F6A7C01}
const IID IID_ITestProbe = {0x6c3f8d0e, 0x1a52, 0x4d7b, {0x9e, 0x10, 0x3b, 0x1e, 0x2f, 0x6a, 0x7c, 0x01}};

struct ITestProbe : IUnknown {
  virtual int STDMETHODCALLTYPE Value() = 0;
};

// An object exposing one interface, reporting its destruction.
class Probe : public CUnknown, public ITestProbe {
 public:
  Probe(IUnknown* outer, bool* destroyed) : CUnknown(outer), destroyed_(destroyed) {}
  ~Probe() override { *destroyed_ = true; }
  FORWARD_IUNKNOWN_TO_OUTER
  HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_ITestProbe)) return ExposeInterface(static_cast<ITestProbe*>(this), out);
    return CUnknown::InnerQueryInterface(iid, out);
  }
  int STDMETHODCALLTYPE Value() override { return 42; }

 private:
  bool* destroyed_;
};

// A minimal aggregating outer object that counts its own references.
class Outer : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    ++queries;
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  ULONG refs = 1;
  int queries = 0;
};

using UnknownTest = LiveObjectsTest;

DWORD WINAPI AddAndReleaseMany(void* p) {
  auto* object = static_cast<CUnknown*>(static_cast<Probe*>(p));
  for (int i = 0; i < 20000; ++i) {
    object->InnerAddRef();
    object->InnerRelease();
  }
  return 0;
}

struct LockProbe {
  SectionLock* lock;
  volatile LONG entered;
};

DWORD WINAPI EnterAndMark(void* p) {
  auto* probe = static_cast<LockProbe*>(p);
  SectionLockHolder holder(probe->lock);
  InterlockedExchange(&probe->entered, 1);
  return 0;
}

TEST_F(UnknownTest, CountsReferencesAndDiesAtZero) {
  bool destroyed = false;
  const LONG before = LiveObjectCount;
  auto* probe = new Probe(nullptr, &destroyed);
  EXPECT_EQ(before + 1, LiveObjectCount);
  EXPECT_EQ(1u, probe->InnerAddRef());
  EXPECT_EQ(2u, probe->InnerAddRef());
  EXPECT_EQ(1u, probe->InnerRelease());
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(0u, probe->InnerRelease());
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(before, LiveObjectCount);
}

TEST_F(UnknownTest, InterfacesForwardToTheObjectWhenNotAggregated) {
  bool destroyed = false;
  auto* probe = new Probe(nullptr, &destroyed);
  probe->InnerAddRef();
  ITestProbe* view = nullptr;
  ASSERT_EQ(S_OK, probe->InnerQueryInterface(IID_ITestProbe, reinterpret_cast<void**>(&view)));
  EXPECT_EQ(42, view->Value());
  // The view's IUnknown is the object's inner unknown.
  IUnknown* unknown = nullptr;
  ASSERT_EQ(S_OK, view->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
  EXPECT_EQ(probe->InnerUnknown(), unknown);
  unknown->Release();
  view->Release();
  EXPECT_FALSE(destroyed);
  probe->InnerRelease();
  EXPECT_TRUE(destroyed);
}

TEST_F(UnknownTest, AggregatedObjectForwardsToOuterButInnerUnknownStaysInner) {
  Outer outer;
  bool destroyed = false;
  auto* probe = new Probe(&outer, &destroyed);
  probe->InnerAddRef();

  IUnknown* inner = nullptr;
  ASSERT_EQ(S_OK, probe->InnerQueryInterface(IID_IUnknown, reinterpret_cast<void**>(&inner)));
  EXPECT_EQ(probe->InnerUnknown(), inner);
  EXPECT_NE(static_cast<IUnknown*>(&outer), inner);
  EXPECT_EQ(1u, outer.refs) << "the inner query raises the inner count, not the outer";

  ITestProbe* view = nullptr;
  ASSERT_EQ(S_OK, probe->InnerQueryInterface(IID_ITestProbe, reinterpret_cast<void**>(&view)));
  EXPECT_EQ(2u, outer.refs) << "handing out an interface adds a reference to the outer";
  view->AddRef();
  EXPECT_EQ(3u, outer.refs);
  void* other = nullptr;
  view->QueryInterface(IID_IUnknown, &other);
  EXPECT_EQ(1, outer.queries);
  view->Release();
  view->Release();
  EXPECT_EQ(1u, outer.refs);

  inner->Release();  // the inner unknown's Release is InnerRelease
  EXPECT_FALSE(destroyed);
  probe->InnerRelease();
  EXPECT_TRUE(destroyed);
}

TEST_F(UnknownTest, QueryFailuresAndNullOutPointers) {
  bool destroyed = false;
  auto* probe = new Probe(nullptr, &destroyed);
  probe->InnerAddRef();
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, probe->InnerQueryInterface(IID_IClassFactory, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(E_POINTER, probe->InnerQueryInterface(IID_IUnknown, nullptr));
  EXPECT_EQ(E_POINTER, ExposeInterface(probe->InnerUnknown(), nullptr));
  EXPECT_EQ(0u, probe->InnerRelease()) << "failed queries added no reference";
}

TEST_F(UnknownTest, ReleaseDuringDestructionDoesNotDestroyTwice) {
  struct Reentrant : CUnknown {
    int* deaths;
    explicit Reentrant(int* d) : CUnknown(nullptr), deaths(d) {}
    ~Reentrant() override {
      ++*deaths;
      InnerAddRef();
      InnerRelease();
    }
  };
  int deaths = 0;
  auto* object = new Reentrant(&deaths);
  object->InnerAddRef();
  EXPECT_EQ(0u, object->InnerRelease());
  EXPECT_EQ(1, deaths);
}

TEST_F(UnknownTest, ThreadedReferenceCountingLosesNoUpdate) {
  bool destroyed = false;
  auto* probe = new Probe(nullptr, &destroyed);
  probe->InnerAddRef();
  HANDLE threads[4];
  for (HANDLE& t : threads) t = CreateThread(nullptr, 0, AddAndReleaseMany, probe, 0, nullptr);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(4, threads, TRUE, 60000));
  for (HANDLE t : threads) CloseHandle(t);
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(0u, probe->InnerRelease());
  EXPECT_TRUE(destroyed);
}

TEST(SectionLockThreadedTest, IsReentrantAndExcludesOtherThreads) {
  SectionLock lock;
  std::optional<SectionLockHolder> outer(std::in_place, &lock);
  { SectionLockHolder inner(&lock); }  // the same thread enters again without blocking

  LockProbe shared{&lock, 0};
  HANDLE thread = CreateThread(nullptr, 0, EnterAndMark, &shared, 0, nullptr);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(thread, 100));
  EXPECT_EQ(0, shared.entered);
  outer.reset();
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
  EXPECT_EQ(1, shared.entered);
  CloseHandle(thread);
}

}  // namespace
